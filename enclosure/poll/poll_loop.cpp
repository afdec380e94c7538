#include "enclosure/poll/poll_loop.h"

#include <unordered_set>

#include "enclosure/model/domain_registry.h"
#include "enclosure/poll/poll_step.h"

namespace halvorin {

PollLoop::PollLoop(DomainRegistry& registry) : registry_(registry) {}

void PollLoop::Turn() {
    const std::vector<Ref<CSesDomain>> domains = registry_.Snapshot();
    std::unordered_map<CSesClient*, Ref<CSesDomain>> kept;
    std::unordered_set<const CSesClient*> clients;
    for (const Ref<CSesDomain>& domain : domains) {
        kept.emplace(&domain->client, domain);
        clients.insert(&domain->client);
    }
    watched_ = std::move(kept);
    retries_.KeepOnly(clients);
    for (const Ref<CSesDomain>& domain : domains)
        PollStep(domain.get());
}

void PollLoop::RetryUnreachable(Time now) {
    for (auto& [client, domain] : watched_)
        retries_.Step(*client, now);
}

size_t PollLoop::StepWoken() {
    size_t stepped = 0;
    for (CSesClient* client : registry_.completions().Take()) {
        auto found = watched_.find(client);
        if (found == watched_.end()) continue;
        Ref<CSesDomain> domain = found->second;  // a handler may end the host's watch
        PollStep(domain.get());
        ++stepped;
    }
    return stepped;
}

}  // namespace halvorin
