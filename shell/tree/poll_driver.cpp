#include "shell/tree/poll_driver.h"

#include "enclosure/model/domain_registry.h"
#include "enclosure/poll/poll_step.h"

namespace halvorin {

CPollDriver::CPollDriver(DomainRegistry& registry, QObject* parent, bool wake_on_replies)
    : QObject(parent), registry_(registry), wake_on_replies_(wake_on_replies) {
    timer_.setInterval(kPollIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &CPollDriver::Tick);
    timer_.start();
    // The hosts there already are watched from the first turn of the event
    // loop, not from the first tick.
    QTimer::singleShot(0, this, &CPollDriver::Tick);
}

CPollDriver::~CPollDriver() = default;

void CPollDriver::Tick() {
    if (stepping_) return;  // a handler's modal wait runs the event loop inside a step
    stepping_ = true;
    std::vector<CSesDomain*> domains = registry_.Snapshot();
    std::unordered_map<CSesDomain*, Watched> kept;
    for (CSesDomain* domain : domains) {
        auto found = watched_.find(domain);
        if (found != watched_.end()) {
            kept.emplace(domain, std::move(found->second));
            watched_.erase(found);
        }
    }
    // Hosts that left the registry: stop watching, give the reference back.
    watched_ = std::move(kept);
    for (CSesDomain* domain : domains) {
        if (!watched_.count(domain)) Watch(domain);
        PollStep(domain);
    }
    registry_.ReleaseSnapshot(domains);
    stepping_ = false;
    emit Stepped();
}

void CPollDriver::Watch(CSesDomain* domain) {
    const int fd = domain->client.completion_fd();
    if (fd < 0 || !wake_on_replies_) return;
    RetainDomain(domain);
    Watched watched{Ref<CSesDomain>::Adopt(domain),
                    std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read)};
    connect(watched.notifier.get(), &QSocketNotifier::activated, this,
            [this, domain] { RepliesWaiting(domain); });
    watched_.emplace(domain, std::move(watched));
}

void CPollDriver::RepliesWaiting(CSesDomain* domain) {
    if (stepping_ || !watched_.count(domain)) return;
    stepping_ = true;
    ++woken_steps_;
    PollStep(domain);
    stepping_ = false;
    emit Stepped();
}

}  // namespace halvorin
