#include "sim/enclosure_state.h"

namespace halvorin::sim {

std::vector<size_t> EnclosureState::VisibleTypes() const {
    std::vector<size_t> visible;
    for (size_t i = 0; i < types.size(); ++i) {
        if (!types[i].hidden) visible.push_back(i);
    }
    return visible;
}

TypeState* EnclosureState::FindType(uint8_t type, uint8_t subenclosure) {
    for (TypeState& t : types) {
        if (t.type == type && t.subenclosure == subenclosure) return &t;
    }
    return nullptr;
}

EnclosureState InitialState(const Scenario& scenario) {
    EnclosureState state;
    state.subenclosures = scenario.subenclosures;
    state.generation = scenario.generation;
    state.ports = scenario.ports;
    state.expander_entries = scenario.expander_entries;
    state.zones = scenario.zones;
    state.system_name = scenario.system_name;
    state.buzzer = scenario.buzzer;
    state.uid_led = scenario.uid_led;
    state.seed = scenario.seed;
    for (const TypeDescription& described : scenario.types) {
        TypeState type;
        type.type = described.type;
        type.subenclosure = described.subenclosure;
        type.text = described.text;
        type.thresholds = described.thresholds;
        type.noise = described.noise;
        for (const ElementDescription& e : described.elements) {
            ElementState element;
            element.described = e;
            element.disk = e.disk;
            element.failed = e.failed;
            type.elements.push_back(std::move(element));
        }
        state.types.push_back(std::move(type));
    }
    return state;
}

}  // namespace halvorin::sim
