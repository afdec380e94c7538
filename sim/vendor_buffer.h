// The enclosure's vendor buffer 0xE9, read with READ BUFFER and written with
// WRITE BUFFER (mode 1) at byte offsets that name regions: indicators, the
// system name, zoning, ports, disk identities, nominal voltages, expanders,
// and the restart and shutdown commands.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/enclosure_state.h"

namespace halvorin::sim {

inline constexpr uint8_t kVendorBufferId = 0xE9;

enum VendorOffset : uint32_t {
    kCommandRegion = 0,
    kBuzzerRegion = 2,
    kUidLedRegion = 3,
    kSystemNameRegion = 4,
    kZoneRegion = 6,
    kPortRegion = 7,
    kDiskRegion = 8,
    kNominalVoltageRegion = 9,
    kExpanderRegion = 10,
};

inline constexpr uint8_t kRestartCommand = 10;
inline constexpr uint8_t kShutdownCommand = 9;

// The region at an offset, or nothing when the offset cannot be read.
std::optional<std::vector<uint8_t>> ReadVendorRegion(const EnclosureState& state, uint32_t offset);

enum class VendorWriteResult { kApplied, kRestart, kShutdown, kRejected };
VendorWriteResult WriteVendorRegion(EnclosureState& state, uint32_t offset,
                                    std::span<const uint8_t> data);

}  // namespace halvorin::sim
