#include "enclosure/poll/standing_events.h"

#include "enclosure/model/display_name.h"
#include "enclosure/model/domain_registry.h"
#include "enclosure/pages/status_element.h"
#include "enclosure/poll/status_event.h"

namespace halvorin {

namespace {

void AddStandingOf(CSesElem* element, StandingEvents& standing) {
    for (const StatusBitRow& row : StatusBitMap(element->type)) {
        if (!row.raise || !(element->state & row.state_bit)) continue;
        if (auto event = DescribeStatusEvent(element, row.state_bit))
            standing.events.emplace(event->source, event->text);
    }
}

}  // namespace

StandingEvents CollectStandingEvents(DomainRegistry& registry) {
    StandingEvents standing;
    std::vector<CSesDomain*> domains = registry.Snapshot();
    for (CSesDomain* domain : domains) {
        std::vector<CSubEnc*> subencs = CollectSubEnclosures(domain);
        for (CSubEnc* subenc : subencs) {
            standing.enclosures.insert(EnclosureDisplayName(subenc));
            for (const auto& [key, element] : subenc->elements)
                AddStandingOf(element, standing);
        }
        ReleaseSubEnclosures(subencs);
    }
    registry.ReleaseSnapshot(domains);
    return standing;
}

}  // namespace halvorin
