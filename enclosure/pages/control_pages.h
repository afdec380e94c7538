// The pages the manager writes with SEND DIAGNOSTIC: enclosure control
// (identify indicators of slots) and download microcode control, and the
// download microcode status it reads back.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace halvorin {

class CSesDev;

// A control element for every element of the configuration's own type
// descriptors; zero except slots with a pending identify request, which is
// consumed. 8 + sum of (possible elements + 1) x 4 bytes.
std::vector<uint8_t> BuildEnclosureControlPage(CSesDev* device);
size_t EnclosureControlPageLength(const CSesDev* device);

struct DownloadPiece {
    uint8_t subenclosure = 0;
    uint8_t mode = 0;
    uint8_t buffer_id = 0;
    uint32_t buffer_offset = 0;
    uint32_t image_length = 0;
    std::span<const uint8_t> data;
};

// The data padded with zeros to (data length + 27) rounded down to 4 bytes.
std::vector<uint8_t> BuildDownloadControlPage(const CSesDev* device, const DownloadPiece& piece);

struct DownloadStatus {
    uint8_t status = 0;
    uint8_t additional = 0;
    uint32_t maximum_size = 0;
    uint8_t expected_buffer_id = 0;
    uint32_t expected_offset = 0;
};

// The descriptor of one sub-enclosure in a download microcode status page:
// -1 when the page is shorter than 8 bytes, -9 when it has no descriptor for
// that sub-enclosure inside the bytes received.
int DecodeDownloadStatus(std::span<const uint8_t> page, uint8_t subenclosure, DownloadStatus& out);

}  // namespace halvorin
