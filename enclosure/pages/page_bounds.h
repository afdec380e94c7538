// The bytes of a page that may be read: the smaller of what arrived and what
// the page's own length field (bytes 2..3) says, plus its 4-byte header.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

#include "base/byte_order.h"

namespace halvorin {

inline std::span<const uint8_t> WithinPageLength(std::span<const uint8_t> received) {
    if (received.size() < 4) return received;
    return received.first(std::min(received.size(), size_t{4} + be16(&received[2])));
}

// Generation codes compare as the 4 bytes they are.
inline bool SameGeneration(std::span<const uint8_t> page,
                           const std::array<uint8_t, 4>& generation) {
    return page.size() >= 8 && std::equal(generation.begin(), generation.end(), page.begin() + 4);
}

}  // namespace halvorin
