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
    for (const Ref<CSesDomain>& domain : registry.Snapshot()) {
        for (const Ref<CSubEnc>& subenc : CollectSubEnclosures(domain.get())) {
            standing.enclosures.insert(EnclosureDisplayName(subenc.get()));
            for (const auto& [key, element] : subenc->elements)
                AddStandingOf(element, standing);
        }
    }
    return standing;
}

}  // namespace halvorin
