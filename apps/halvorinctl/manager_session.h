// The headless manager's hold on its hosts: one domain per host in a registry
// of its own, and the poll step run on the calling thread (which stands in
// for the desktop's UI thread: every handler and hook runs there).
#pragma once

#include <poll.h>

#include <atomic>
#include <chrono>
#include <span>
#include <string>
#include <vector>

#include "enclosure/model/domain_registry.h"
#include "enclosure/poll/poll_loop.h"

namespace halvorin::ctl {

enum class HostOutcome {
    kReady,
    kUnreachable,
    kRefused,
    kBusy,  // the agent serves as many managers as it may
    kNoDevices,
    kUnreadable,
    kTimedOut
};

struct HostStatus {
    std::string host;
    HostOutcome outcome = HostOutcome::kTimedOut;
    std::string detail;  // what was missing when it timed out, or the devices' errors
};

const char* OutcomeName(HostOutcome outcome);

// Something else the polling thread serves while it waits for the next
// step (the metrics command's HTTP connections).
class StepCompanion {
  public:
    virtual ~StepCompanion() = default;
    // Adds the descriptors to wait on.
    virtual void AddPollFds(std::vector<pollfd>& fds) = 0;
    // After each wait (also when it timed out): the descriptors it added,
    // with what is ready on them.
    virtual void Serve(std::span<const pollfd> fds) = 0;
};

class ManagerSession {
  public:
    // `interrupt` (a signal handler sets it) cuts every wait short.
    ManagerSession(std::vector<std::string> hosts, const std::atomic<bool>& interrupt,
                   ClientOptions options = {});
    ~ManagerSession();

    // One poll step of every domain.
    void Poll();
    // Waits until the next poll step is due, running the handlers of replies
    // as they arrive meanwhile, so a read chain does not wait 100 ms a link.
    // Returns early once interrupted. `companion` is served meanwhile.
    void WaitForNextStep(StepCompanion* companion = nullptr);
    // Polls until every host is read (its devices' first chains have ended),
    // refused us, or the time is up; a host that cannot be reached is tried
    // again every few seconds until then. Interruption ends it early.
    std::vector<HostStatus> WaitUntilRead(std::chrono::seconds limit);
    // Polls for a while.
    void PollFor(std::chrono::milliseconds duration);
    bool interrupted() const { return interrupt_.load(); }
    // WaitUntilRead keeps trying a host it could not reach (by name or by
    // connection) until its limit, instead of giving up after one try.
    void KeepTryingUnreachable(bool keep) { keep_trying_unreachable_ = keep; }
    // Asks every host the client gave up on (unreachable, next try in 100 s)
    // again soon (HostRetrySchedule: every 2 s at first). Long-running
    // commands call it each round, so a host that comes up later is found
    // within seconds.
    void RetryUnreachable();

    const std::vector<std::string>& hosts() const { return hosts_; }
    const std::vector<CSesDomain*>& domains() const { return domains_; }
    DomainRegistry& registry() { return registry_; }

  private:
    HostStatus StatusOf(size_t index) const;

    std::vector<std::string> hosts_;
    const std::atomic<bool>& interrupt_;
    bool keep_trying_unreachable_ = false;
    DomainRegistry registry_;
    std::vector<CSesDomain*> domains_;
    PollLoop loop_{registry_};  // lets go of its hosts before the registry goes
};

}  // namespace halvorin::ctl
