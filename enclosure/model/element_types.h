// Element type codes: the SES codes the system knows, and its own codes for
// entries of the vendor buffer (always attached to sub-enclosure 0).
#pragma once

#include <cstdint>

namespace halvorin {

enum ElementType : uint8_t {
    kTypeDeviceSlot = 1,
    kTypePowerSupply = 2,
    kTypeCooling = 3,
    kTypeTemperature = 4,
    kTypeEscElectronics = 7,
    kTypeVoltage = 18,
    kTypeCurrent = 19,
    kTypeTargetPort = 20,
    kTypeInitiatorPort = 21,
    kTypeArrayDeviceSlot = 23,
    kTypeSasExpander = 24,
    kTypeSasConnector = 25,
    kTypeZoneEntry = 29,      // "SAS zoning": vendor buffer offset 6
    kTypeExpanderEntry = 30,  // "SAS expander": vendor buffer offset 10
    kTypePortEntry = 31,      // "SAS port": vendor buffer offset 7
};

// Per-type counters exist for codes below this.
inline constexpr int kCountedTypes = 32;

inline bool HasHistory(uint8_t type) {
    return type == kTypeCooling || type == kTypeTemperature || type == kTypeVoltage ||
           type == kTypeCurrent;
}

inline bool IsSlotType(uint8_t type) {
    return type == kTypeDeviceSlot || type == kTypeArrayDeviceSlot;
}

// Types whose configuration entries have additional element status descriptors.
inline bool HasAdditionalStatus(uint8_t type) {
    return type == kTypeDeviceSlot || type == kTypeEscElectronics || type == kTypeTargetPort ||
           type == kTypeInitiatorPort || type == kTypeArrayDeviceSlot || type == kTypeSasExpander;
}

// Element state bits (StateBits).
enum StateBit : uint32_t {
    kStateBelowLowCritical = 0x01,
    kStateAboveHighCritical = 0x02,
    kStateBelowLowWarning = 0x04,
    kStateAboveHighWarning = 0x08,
    kStateTemperatureUnderFailure = 0x10,
    kStateTemperatureOverFailure = 0x20,
    kStateFailed = 0x40,
    kStateDcFailure = 0x100,
    kStateAcFailure = 0x200,
    kStateOverTemperatureFailure = 0x400,
    kStateTemperatureWarning = 0x800,
    kStateOverCurrent = 0x1000,
    kStateUnderVoltage = 0x2000,
    kStateOverVoltage = 0x4000,
    kStateHotSpare = 0x10000,
    kStateConsistencyCheck = 0x20000,
    kStateInCriticalArray = 0x40000,
    kStateInFailedArray = 0x80000,
    kStateRebuildRemap = 0x100000,
    kStateDoNotRemove = 0x200000,
    kStateReadyToInsert = 0x400000,
    kStateDeviceOff = 0x1000000,
    kStateOk = 0x2000000,
    kStateIdentifyOn = 0x80000000,
};

}  // namespace halvorin
