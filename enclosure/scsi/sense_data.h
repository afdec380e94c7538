// Sense data as far as the transport's retry rule needs it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace halvorin {

inline constexpr uint8_t kSenseKeyUnitAttention = 0x06;
inline constexpr uint8_t kSenseKeyIllegalRequest = 0x05;

// The sense key of fixed (0x70, 0x71) or descriptor (0x72, 0x73) format sense
// data, or nothing when too few valid bytes arrived or the format is unknown.
std::optional<uint8_t> SenseKey(std::span<const uint8_t> valid_sense);

}  // namespace halvorin
