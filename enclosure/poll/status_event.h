// What the event list shows for a state bit that became set: the level, the
// enclosure it is about and the finished message, built from the element's
// name and its group's label.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace halvorin {

class CSesElem;

struct StatusEvent {
    int level = 0;
    std::u16string source;  // the enclosure's display name
    std::u16string text;    // first character upper-cased
};

// Nothing when the bit has no event rule or the element's type has no group
// (current sensors and SAS connectors have none).
std::optional<StatusEvent> DescribeStatusEvent(CSesElem* element, uint32_t state_bit);

// The string id of the group title of an element type, 0 for none.
int GroupTitleId(uint8_t type);

}  // namespace halvorin
