#include "sim/microcode_download.h"

namespace halvorin::sim {

namespace {

constexpr uint8_t kModeOffsetsActivate = 0x06;
constexpr uint8_t kModeOffsetsSaveDefer = 0x07;

bool IsOneShot(uint8_t status) {
    return status != kDownloadIdle && status != kDownloadInProgress;
}

}  // namespace

MicrocodeDownload::MicrocodeDownload(const DownloadStart& start)
    : status_(start.status),
      expected_buffer_id_(start.expected_buffer_id),
      expected_offset_(start.expected_offset),
      first_image_stored_(start.status == kDownloadInProgress &&
                          start.expected_buffer_id == kSecondImageBuffer) {}

MicrocodeDownload::Status MicrocodeDownload::ReadStatus() {
    Status s;
    s.status = status_;
    s.expected_buffer_id = expected_buffer_id_;
    s.expected_offset = expected_offset_;
    if (IsOneShot(status_)) status_ = kDownloadIdle;
    return s;
}

MicrocodeDownload::Outcome MicrocodeDownload::Reject() {
    status_ = kDownloadError;
    expected_buffer_id_ = kFirstImageBuffer;
    expected_offset_ = 0;
    first_image_stored_ = false;
    return Outcome::kRejected;
}

MicrocodeDownload::Outcome MicrocodeDownload::Piece(uint8_t mode, uint8_t buffer_id,
                                                    uint32_t offset, uint32_t image_length,
                                                    std::span<const uint8_t> data) {
    if (mode != kModeOffsetsActivate && mode != kModeOffsetsSaveDefer) return Reject();
    if (InProgress()) {
        if (image_length_ == 0) {
            // Resumed after a power cycle: the length comes with the next piece
            // and the bytes before the expected offset were stored earlier.
            image_length_ = image_length;
            images_[buffer_id].resize(expected_offset_);
        }
        if (buffer_id != expected_buffer_id_ || offset != expected_offset_ ||
            image_length != image_length_) {
            return Reject();
        }
    } else {
        // A new image starts at offset 0: the first image at any time, the
        // second only once the first is stored.
        const bool starts_first = buffer_id == kFirstImageBuffer;
        const bool starts_second = buffer_id == kSecondImageBuffer && first_image_stored_;
        if (offset != 0 || !(starts_first || starts_second)) return Reject();
        if (image_length == 0 || image_length > kMaximumImageSize) return Reject();
        image_length_ = image_length;
        images_[buffer_id].clear();
        expected_buffer_id_ = buffer_id;
        expected_offset_ = 0;
        status_ = kDownloadInProgress;
    }
    if (data.empty() || data.size() > image_length_ - expected_offset_) return Reject();

    std::vector<uint8_t>& image = images_[buffer_id];
    image.insert(image.end(), data.begin(), data.end());
    expected_offset_ += static_cast<uint32_t>(data.size());
    if (expected_offset_ < image_length_) return Outcome::kAccepted;

    expected_offset_ = 0;
    if (buffer_id == kFirstImageBuffer) {
        first_image_stored_ = true;
        expected_buffer_id_ = kSecondImageBuffer;
        status_ = kDownloadImageComplete;
        return Outcome::kImageStored;
    }
    first_image_stored_ = false;
    expected_buffer_id_ = kFirstImageBuffer;
    status_ = kDownloadCompleteActivating;
    return Outcome::kUpgradeComplete;
}

const std::vector<uint8_t>& MicrocodeDownload::Image(uint8_t buffer_id) const {
    static const std::vector<uint8_t> none;
    auto it = images_.find(buffer_id);
    return it == images_.end() ? none : it->second;
}

}  // namespace halvorin::sim
