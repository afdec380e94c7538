// The regions of the enclosure's vendor buffer 0xE9 the manager reads, all
// about sub-enclosure 0: disk identities, nominal voltages, port, zone and
// expander entries (the system's own element types 31, 29 and 30), the two
// indicators and the system name.
#pragma once

#include <cstdint>
#include <span>

namespace halvorin {

class CSesDev;

int ApplyDiskIdentities(CSesDev* device, std::span<const uint8_t> region);   // offset 8
int ApplyNominalVoltages(CSesDev* device, std::span<const uint8_t> region);  // offset 9
int ApplyPortEntries(CSesDev* device, std::span<const uint8_t> region);      // offset 7
int ApplyZoneEntries(CSesDev* device, std::span<const uint8_t> region);      // offset 6
int ApplyExpanderEntries(CSesDev* device, std::span<const uint8_t> region);  // offset 10
// Offsets 3 (UID LED, indicator 0x01) and 2 (buzzer, indicator 0x02).
int ApplyIndicator(CSesDev* device, uint16_t indicator, std::span<const uint8_t> region);
int ApplySystemName(CSesDev* device, std::span<const uint8_t> region);  // offset 4

}  // namespace halvorin
