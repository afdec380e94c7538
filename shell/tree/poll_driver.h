// CPollDriver: drives the manager's PollLoop on the interface thread. A
// 100 ms timer turns it (device lists, refreshes, timeouts, hosts that could
// not be reached asked again soon), and the registry's completion descriptor
// wakes the thread as soon as replies wait, so a reply is handled when it
// arrives rather than at the next tick, and only the hosts that have replies
// are stepped then. Replies are still handled only on this thread.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>

#include "enclosure/poll/poll_loop.h"

namespace halvorin {

class DomainRegistry;

class CPollDriver : public QObject {
    Q_OBJECT

  public:
    // `registry` must outlive the driver. Without `wake_on_replies` only the
    // timer runs the steps (for comparison in measurements).
    explicit CPollDriver(DomainRegistry& registry, QObject* parent = nullptr,
                         bool wake_on_replies = true);
    ~CPollDriver() override;

    // One tick now: every host's poll step, then Stepped(). A host added
    // between ticks is watched from the next one; call this to start at once.
    void Tick();
    size_t watched() const { return loop_.watched(); }
    // Poll steps run because replies arrived (not by the timer).
    uint64_t woken_steps() const { return woken_steps_; }

  signals:
    // After the poll steps of one tick: the model may have changed.
    void Stepped();

  private:
    void RepliesWaiting();

    DomainRegistry& registry_;
    const bool wake_on_replies_;
    QTimer timer_;
    // The registry's completion signal: one descriptor for every host.
    std::unique_ptr<QSocketNotifier> notifier_;
    PollLoop loop_;
    uint64_t woken_steps_ = 0;
    bool stepping_ = false;
};

}  // namespace halvorin
