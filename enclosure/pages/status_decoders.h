// The pages laid out element by element after the configuration: enclosure
// status (0x02), threshold in (0x05) and additional element status (0x0A).
// Each checks every length and the generation code before it changes
// anything, and walks only the configuration's own type descriptors (the
// device's array may also hold the system's types 29 to 31).
#pragma once

#include <cstdint>
#include <span>

namespace halvorin {

class CSesDev;

inline constexpr int64_t kStatusPeriodSeconds = 60;

// The enclosure status page, or the failed read's result. -7 or -10 record a
// missing sample once a minute (the result is then -7); other failures pass
// on. A page read within a minute of the last sample updates the state bits
// only; otherwise every element also records its reading.
int ApplyEnclosureStatus(CSesDev* device, int result, std::span<const uint8_t> page, int64_t now);

// Thresholds of temperature, voltage and current sensors.
int ApplyThresholdIn(CSesDev* device, std::span<const uint8_t> page);

// Slot numbers and expander SAS addresses.
int ApplyAdditionalElementStatus(CSesDev* device, std::span<const uint8_t> page);

}  // namespace halvorin
