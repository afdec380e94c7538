#include "enclosure/scsi/sense_data.h"

namespace halvorin {

std::optional<uint8_t> SenseKey(std::span<const uint8_t> valid_sense) {
    if (valid_sense.empty()) return std::nullopt;
    const uint8_t response_code = valid_sense[0] & 0x7F;
    if ((response_code == 0x70 || response_code == 0x71) && valid_sense.size() >= 3) {
        return valid_sense[2] & 0x0F;
    }
    if ((response_code == 0x72 || response_code == 0x73) && valid_sense.size() >= 2) {
        return valid_sense[1] & 0x0F;
    }
    return std::nullopt;
}

}  // namespace halvorin
