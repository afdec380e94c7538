// The conditions that stand now, as the status events that raised them: what
// the event list would say again if every enclosure were read for the first
// time. Saved while the program runs, they let the next start leave out the
// events of faults that stood all along.
#pragma once

#include <set>
#include <string>
#include <utility>

namespace halvorin {

class DomainRegistry;

// (enclosure display name, event text)
using StandingEvent = std::pair<std::u16string, std::u16string>;

struct StandingEvents {
    std::set<StandingEvent> events;
    std::set<std::u16string> enclosures;  // every enclosure that was looked at
};

// Every raising state bit set on an element of a read enclosure of any host.
// On the poll thread, which is the one that changes the model.
StandingEvents CollectStandingEvents(DomainRegistry& registry);

}  // namespace halvorin
