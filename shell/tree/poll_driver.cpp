#include "shell/tree/poll_driver.h"

#include <chrono>
#include <unordered_set>

#include "enclosure/model/domain_registry.h"
#include "enclosure/poll/poll_step.h"

namespace halvorin {

CPollDriver::CPollDriver(DomainRegistry& registry, QObject* parent, bool wake_on_replies)
    : QObject(parent), registry_(registry), wake_on_replies_(wake_on_replies) {
    timer_.setInterval(kPollIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &CPollDriver::Tick);
    timer_.start();
    if (wake_on_replies_ && registry_.completions().valid()) {
        notifier_ =
            std::make_unique<QSocketNotifier>(registry_.completions().fd(), QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this, &CPollDriver::RepliesWaiting);
    }
    // The hosts there already are watched from the first turn of the event
    // loop, not from the first tick.
    QTimer::singleShot(0, this, &CPollDriver::Tick);
}

CPollDriver::~CPollDriver() = default;

void CPollDriver::Tick() {
    if (stepping_) return;  // a handler's modal wait runs the event loop inside a step
    stepping_ = true;
    const std::vector<Ref<CSesDomain>> domains = registry_.Snapshot();
    // Hosts that left the registry are no longer watched; their reference goes.
    std::unordered_map<CSesClient*, Ref<CSesDomain>> kept;
    for (const Ref<CSesDomain>& domain : domains)
        kept.emplace(&domain->client, domain);
    watched_ = std::move(kept);
    std::unordered_set<const CSesClient*> clients;
    const auto now = std::chrono::steady_clock::now();
    for (const Ref<CSesDomain>& domain : domains) {
        retries_.Step(domain->client, now);
        clients.insert(&domain->client);
        PollStep(domain.get());
    }
    retries_.KeepOnly(clients);
    stepping_ = false;
    emit Stepped();
}

// Steps the hosts that have replies waiting. Inside a step (a handler's
// modal wait) they are left to the next tick, which steps every host.
void CPollDriver::RepliesWaiting() {
    const std::vector<CSesClient*> clients = registry_.completions().Take();
    if (stepping_) return;
    stepping_ = true;
    bool stepped = false;
    for (CSesClient* client : clients) {
        auto found = watched_.find(client);
        if (found == watched_.end()) continue;  // new since the last tick: the next one steps it
        Ref<CSesDomain> domain = found->second;
        ++woken_steps_;
        PollStep(domain.get());
        stepped = true;
    }
    stepping_ = false;
    if (stepped) emit Stepped();
}

}  // namespace halvorin
