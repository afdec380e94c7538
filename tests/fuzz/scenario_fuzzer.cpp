// Feeds arbitrary text to the scenario and recording loader: scenario and
// capture files travel with bug reports, so any file must load or be refused
// with a reason.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    const auto scenario =
        halvorin::sim::ParseScenario(std::string(reinterpret_cast<const char*>(data), size), error);
    if (!scenario && error.empty()) __builtin_trap();  // a refusal always says why
    return 0;
}
