// The live state of one simulated enclosure: what its pages and vendor
// buffer report at this moment. Events, control pages and vendor-buffer
// writes change it; the page writers only read it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/scenario.h"

namespace halvorin::sim {

struct ElementState {
    ElementDescription described;
    std::optional<Disk> disk;
    bool failed = false;  // power supply or fan failure
    bool ac_fail = false;
    bool dc_fail = false;
    bool stopped = false;          // fan
    std::optional<double> forced;  // a reading an event pinned (degrees, volts)
    bool ident = false;            // identify indicator, switched by the control page
    bool fault_requested = false;
};

struct TypeState {
    uint8_t type = 0;
    uint8_t subenclosure = 0;
    std::string text;
    Thresholds thresholds;
    double noise = 0;
    bool hidden = false;  // removed from the configuration by an event
    std::vector<ElementState> elements;
};

struct EnclosureState {
    std::vector<SubEnclosureSpec> subenclosures;
    std::vector<TypeState> types;
    uint32_t generation = 1;
    std::vector<PortSpec> ports;
    std::vector<ExpanderEntrySpec> expander_entries;
    std::vector<ZoneBits> zones;
    std::string system_name;
    bool buzzer = false;
    bool uid_led = false;
    uint64_t seed = 1;
    int64_t elapsed_seconds = 0;  // scenario time, drives sensor noise

    // Indexes of the type descriptors the configuration page lists now, in order.
    std::vector<size_t> VisibleTypes() const;
    // The first type descriptor of a type in a sub-enclosure, hidden or not.
    TypeState* FindType(uint8_t type, uint8_t subenclosure);
};

EnclosureState InitialState(const Scenario& scenario);

}  // namespace halvorin::sim
