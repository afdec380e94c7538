// One sub-enclosure's side of the SES download microcode exchange. The
// firmware comes as two images: buffer 2 first, then buffer 1. Pieces must
// arrive in order; the status page says what is expected next. A completion
// or error status is reported once and then the status is idle (0) again.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "sim/scenario.h"

namespace halvorin::sim {

enum DownloadStatus : uint8_t {
    kDownloadIdle = 0x00,
    kDownloadInProgress = 0x01,
    kDownloadImageComplete = 0x02,  // the first image is stored
    kDownloadCompleteActivating = 0x10,
    kDownloadError = 0x80,  // out of order or malformed; image discarded
};

inline constexpr uint8_t kFirstImageBuffer = 2;
inline constexpr uint8_t kSecondImageBuffer = 1;
inline constexpr uint32_t kMaximumImageSize = 16u << 20;

class MicrocodeDownload {
  public:
    struct Status {
        uint8_t status = kDownloadIdle;
        uint8_t additional = 0;
        uint32_t maximum_size = kMaximumImageSize;
        uint8_t expected_buffer_id = kFirstImageBuffer;
        uint32_t expected_offset = 0;
    };

    enum class Outcome { kAccepted, kRejected, kImageStored, kUpgradeComplete };

    explicit MicrocodeDownload(const DownloadStart& start = {});

    // The status page's view; a one-shot status is consumed by reading it.
    Status ReadStatus();

    Outcome Piece(uint8_t mode, uint8_t buffer_id, uint32_t offset, uint32_t image_length,
                  std::span<const uint8_t> data);

    // Bytes received for a buffer (tests compare them with the package's images).
    const std::vector<uint8_t>& Image(uint8_t buffer_id) const;

  private:
    Outcome Reject();
    bool InProgress() const { return status_ == kDownloadInProgress; }

    uint8_t status_ = kDownloadIdle;
    uint8_t expected_buffer_id_ = kFirstImageBuffer;
    uint32_t expected_offset_ = 0;
    uint32_t image_length_ = 0;
    bool first_image_stored_ = false;
    std::map<uint8_t, std::vector<uint8_t>> images_;
};

}  // namespace halvorin::sim
