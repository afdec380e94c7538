// The smallest thing an agent discovers as an enclosure services device:
// answers standard INQUIRY (type 0x0D), VPD page 0x83 with an 8-byte NAA
// identifier, and hands every other CDB to a test's handler.
#pragma once

#include "tests/support/scripted_host.h"

namespace halvorin::test {

inline std::vector<uint8_t> StandardInquiry(uint8_t byte0 = 0x0D) {
    std::vector<uint8_t> data(36, ' ');
    data[0] = byte0;
    data[1] = 0;
    data[2] = 6;
    data[3] = 2;
    data[4] = 31;
    return data;
}

inline std::vector<uint8_t> IdentificationVpd(const DeviceId& id) {
    std::vector<uint8_t> page = {0x0D, 0x83, 0x00, 12, 0x01, 0x03, 0x00, 0x08};
    page.insert(page.end(), id.begin(), id.end());
    return page;
}

// Answers INQUIRY for an enclosure; other commands go to `other`.
inline ScriptedHost::Handler EnclosureAnswers(DeviceId id, ScriptedHost::Handler other) {
    return [id, other](const ScsiIo& io, std::stop_token stop) {
        if (io.cdb[0] == 0x12) {
            const bool vpd = io.cdb[1] & 1;
            return Answer(io, vpd ? IdentificationVpd(id) : StandardInquiry());
        }
        return other(io, stop);
    };
}

}  // namespace halvorin::test
