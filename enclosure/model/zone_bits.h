// The slots of a SAS zone entry's data: slot k + 1 is bit k % 8 of byte k / 8,
// least significant bit first. The zoning table that the enclosure takes
// carries the first 80 bits (10 bytes) of each entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace halvorin {

inline constexpr int kZoneTableSlots = 80;

// Whether slot bit `k` (from 0) is set; false beyond the data.
inline bool ZoneHasSlot(std::span<const uint8_t> data, int k) {
    if (k < 0 || static_cast<size_t>(k) / 8 >= data.size()) return false;
    return (data[static_cast<size_t>(k) / 8] >> (k % 8)) & 1;
}

// Sets or clears slot bit `k`; nothing beyond the data.
inline void SetZoneSlot(std::span<uint8_t> data, int k, bool in_zone) {
    if (k < 0 || static_cast<size_t>(k) / 8 >= data.size()) return;
    const uint8_t bit = static_cast<uint8_t>(1u << (k % 8));
    uint8_t& byte = data[static_cast<size_t>(k) / 8];
    byte = in_zone ? static_cast<uint8_t>(byte | bit) : static_cast<uint8_t>(byte & ~bit);
}

}  // namespace halvorin
