// What a simulated sensor reads at a moment of scenario time: its nominal
// value plus deterministic noise (the same seed and time give the same
// reading, so runs repeat), unless an event pinned or stopped it.
#pragma once

#include <cstddef>

#include "sim/enclosure_state.h"

namespace halvorin::sim {

// In the element's natural unit: rpm, degrees Celsius, volts, amperes.
double SensorReading(const EnclosureState& state, size_t type_index, size_t element_index);

}  // namespace halvorin::sim
