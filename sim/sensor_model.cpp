#include "sim/sensor_model.h"

#include <cmath>
#include <cstdint>

namespace halvorin::sim {

namespace {

uint64_t SplitMix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// In [-1, 1]: a slow hourly swing plus a jitter that changes every minute.
double Noise(uint64_t seed, size_t type_index, size_t element, int64_t seconds) {
    const uint64_t key = SplitMix(seed ^ SplitMix(type_index * 1009 + element));
    const double phase = static_cast<double>(key % 6283) / 1000.0;
    const double swing = std::sin(2 * M_PI * static_cast<double>(seconds) / 3600.0 + phase);
    const uint64_t minute = static_cast<uint64_t>(seconds / 60);
    const double jitter = static_cast<double>(SplitMix(key ^ minute) % 2001) / 1000.0 - 1.0;
    return 0.6 * swing + 0.4 * jitter;
}

}  // namespace

double SensorReading(const EnclosureState& state, size_t type_index, size_t element_index) {
    const TypeState& type = state.types[type_index];
    const ElementState& element = type.elements[element_index];
    if (element.forced) return *element.forced;
    if (type.type == kCooling && (element.stopped || element.failed)) return 0;
    const double n = Noise(state.seed, type_index, element_index, state.elapsed_seconds);
    if (type.type == kTemperatureSensor) return element.described.nominal + type.noise * n;
    return element.described.nominal * (1.0 + type.noise * n);
}

}  // namespace halvorin::sim
