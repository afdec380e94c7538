// ELEM_TYPE_DESC: one type descriptor header of a device's configuration,
// stored by value in the device's array (followed by the system's own types
// 29, 30 and 31 when the vendor buffer has them).
#pragma once

#include <cstdint>

namespace halvorin {

class CSubEnc;

inline constexpr uint8_t kTypeDescHasAdditionalStatus = 0x01;
inline constexpr size_t kTypeDescTextSize = 256;

struct ELEM_TYPE_DESC {
    uint8_t type = 0;
    uint8_t possible_elements = 0;
    // Position among the same type's descriptors of the same sub-enclosure,
    // from 1; 0 when the type occurs only once there.
    uint8_t ordinal = 0;
    uint8_t text_length = 0;
    uint8_t flags = 0;                  // kTypeDescHasAdditionalStatus
    char text[kTypeDescTextSize] = {};  // zero-terminated
    uint8_t reserved[3] = {};
    // The sub-enclosure it belongs to; not counted, memory only, and cleared
    // (nullptr) when that sub-enclosure leaves the device.
    CSubEnc* subenc = nullptr;
};

}  // namespace halvorin
