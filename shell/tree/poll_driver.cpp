#include "shell/tree/poll_driver.h"

#include "enclosure/model/domain_registry.h"
#include "enclosure/poll/poll_step.h"

namespace halvorin {

CPollDriver::CPollDriver(DomainRegistry& registry, QObject* parent, bool wake_on_replies)
    : QObject(parent), registry_(registry), wake_on_replies_(wake_on_replies), loop_(registry) {
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
    loop_.RetryUnreachable();
    loop_.Turn();
    stepping_ = false;
    emit Stepped();
}

// Steps the hosts that have replies waiting. Inside a step (a handler's
// modal wait) they are left to the next tick, which steps every host.
void CPollDriver::RepliesWaiting() {
    if (stepping_) {
        registry_.completions().Take();
        return;
    }
    stepping_ = true;
    const size_t stepped = loop_.StepWoken();
    woken_steps_ += stepped;
    stepping_ = false;
    if (stepped > 0) emit Stepped();
}

}  // namespace halvorin
