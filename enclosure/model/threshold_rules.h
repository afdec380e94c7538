// Voltage and current thresholds as percentages of the nominal value: each
// margin byte b is in 0.5 % steps (N x (200 + b) / 200, truncated toward 0).
#pragma once

#include <array>
#include <cstdint>

namespace halvorin {

// High critical, high warning, low warning, low critical.
using ThresholdMargins = std::array<uint8_t, 4>;
// Used where the enclosure gives no thresholds of its own: 5 % and 2.5 %.
inline constexpr ThresholdMargins kDefaultNominalMargins = {10, 5, 5, 10};

// A margin of 0 leaves that threshold at 0 (none).
inline std::array<int16_t, 4> ThresholdsFromNominal(int16_t nominal, const ThresholdMargins& b) {
    const int n = nominal;
    auto scaled = [n](int factor, uint8_t margin) -> int16_t {
        return margin == 0 ? 0 : static_cast<int16_t>(n * factor / 200);
    };
    return {scaled(200 + b[0], b[0]), scaled(200 + b[1], b[1]), scaled(200 - b[2], b[2]),
            scaled(200 - b[3], b[3])};
}

// Which thresholds a set of margins gives: bit i for each margin that is not 0.
inline uint8_t ThresholdsGiven(const ThresholdMargins& b) {
    uint8_t given = 0;
    for (size_t i = 0; i < b.size(); ++i)
        given |= b[i] != 0 ? uint8_t(1u << i) : 0;
    return given;
}

}  // namespace halvorin
