// Applies a configuration page (0x01) together with its element descriptor
// page (0x07): the device's sub-enclosures, type descriptors and elements
// are rebuilt, keeping every object whose key is unchanged (and its history
// and state), and sweeping out what the configuration no longer lists.
#pragma once

#include <cstdint>
#include <span>

namespace halvorin {

class CSesDev;

// At most this many type descriptors leave room for the system's own three.
inline constexpr size_t kMaxConfigurationTypeDescriptors = 252;

// 0, or -1 (lengths), -2 (generation codes differ), -3 (memory), -9 (a type
// descriptor names an unknown sub-enclosure), -23 (unsupported model). Both
// pages are read whole before the model is touched: a refused page changes
// nothing, and the device keeps its configuration.
int ApplyConfiguration(CSesDev* device, std::span<const uint8_t> configuration,
                       std::span<const uint8_t> descriptors);

}  // namespace halvorin
