#include "enclosure/scsi/vpd_identifier.h"

#include <algorithm>

#include "base/byte_order.h"

namespace halvorin {

namespace {

constexpr uint8_t kEnclosureServicesDevice = 0x0D;
constexpr uint8_t kDesignatorTypeNaa = 3;
constexpr size_t kDescriptorHeader = 4;

}  // namespace

std::optional<DeviceId> FindNaaIdentifier(std::span<const uint8_t> page) {
    if (page.size() < 4 || page[0] != kEnclosureServicesDevice) return std::nullopt;
    const size_t end = std::min(page.size(), size_t{4} + be16(&page[2]));
    size_t at = 4;
    while (end - at >= kDescriptorHeader) {
        const uint8_t designator_type = page[at + 1] & 0x0F;
        const size_t length = page[at + 3];
        if (at + kDescriptorHeader + length > end) break;
        if (designator_type == kDesignatorTypeNaa && length == kDeviceIdSize) {
            DeviceId id;
            std::copy_n(page.begin() + at + kDescriptorHeader, kDeviceIdSize, id.begin());
            return id;
        }
        at += kDescriptorHeader + length;
    }
    return std::nullopt;
}

}  // namespace halvorin
