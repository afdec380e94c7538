#include "apps/halvorinctl/manager_session.h"

#include "apps/halvorinctl/enclosure_report.h"

#include <poll.h>

#include <thread>

#include "base/result_code.h"
#include "base/utf16.h"
#include "enclosure/poll/poll_step.h"

namespace halvorin::ctl {

const char* OutcomeName(HostOutcome outcome) {
    switch (outcome) {
        case HostOutcome::kReady:
            return "ready";
        case HostOutcome::kUnreachable:
            return "unreachable";
        case HostOutcome::kRefused:
            return "refused";
        case HostOutcome::kBusy:
            return "agent busy";
        case HostOutcome::kNoDevices:
            return "no devices";
        case HostOutcome::kUnreadable:
            return "unreadable";
        case HostOutcome::kTimedOut:
            return "timed out";
    }
    return "?";
}

namespace {

std::string DeviceErrors(const std::vector<CSesDev*>& devices) {
    std::string text;
    for (const CSesDev* device : devices) {
        if (!text.empty()) text += "; ";
        text += Hex(device->Identifier().data(), 8) + ": " +
                std::string(ResultCodeName(device->chain_error)) + " (" +
                std::to_string(device->chain_error) + ")";
    }
    return text;
}

}  // namespace

ManagerSession::ManagerSession(std::vector<std::string> hosts, const std::atomic<bool>& interrupt,
                               ClientOptions options)
    : hosts_(std::move(hosts)), interrupt_(interrupt), registry_(std::move(options)) {
    for (const std::string& host : hosts_)
        domains_.push_back(registry_.Acquire(Utf8ToUtf16(host)));
}

ManagerSession::~ManagerSession() {
    for (CSesDomain* domain : domains_) {
        if (domain) registry_.Release(domain);
    }
    registry_.ReleaseAll();
}

void ManagerSession::Poll() {
    loop_.Turn();
}

// Sleeps in poll() on the registry's completion signal: a reply from any
// host wakes us at once, and nothing else does until the step is due.
void ManagerSession::WaitForNextStep(StepCompanion* companion) {
    const auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPollIntervalMs);
    std::vector<pollfd> fds;
    while (!interrupted()) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(next - std::chrono::steady_clock::now());
        if (left.count() <= 0) return;
        fds.assign(1, pollfd{registry_.completions().fd(), POLLIN, 0});
        if (companion) companion->AddPollFds(fds);
        const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(left.count()));
        if (companion) companion->Serve(std::span(fds).subspan(1));
        if (ready <= 0 || !(fds[0].revents & POLLIN)) continue;
        loop_.StepWoken();
    }
}

void ManagerSession::PollFor(std::chrono::milliseconds duration) {
    const auto until = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < until && !interrupted()) {
        Poll();
        WaitForNextStep();
    }
}

HostStatus ManagerSession::StatusOf(size_t index) const {
    HostStatus status{hosts_[index]};
    CSesDomain* domain = domains_[index];
    if (!domain) {
        status.outcome = HostOutcome::kUnreachable;
        status.detail = "cannot create a connection";
        return status;
    }
    if (domain->client.state() == kStateUnreachable) {
        status.outcome = HostOutcome::kUnreachable;
        status.detail = domain->client.unreachable_reason();
        if (status.detail.empty())
            status.detail = std::string(ResultCodeName(domain->client.last_failure()));
        return status;
    }
    if (domain->client.last_hello_result() == kHelloRefused) {
        status.outcome = HostOutcome::kRefused;
        if (std::string said = domain->client.last_refusal_text(); !said.empty()) {
            status.detail = "the agent says: " + said;
            return status;
        }
        status.detail = "the agent does not authorise \"" +
                        Utf16ToUtf8(domain->client.computer_name()) +
                        "\" from this address; it must list it (halvorin-agentd --allow)";
        return status;
    }
    if (domain->client.state() != kStateReady && domain->client.last_failure() == kTlsFailed) {
        status.outcome = HostOutcome::kRefused;
        status.detail = "TLS: " + domain->client.last_tls_error();
        return status;
    }
    if (domain->client.last_hello_result() == kAgentBusy) {
        status.outcome = HostOutcome::kBusy;
        status.detail = domain->client.last_refusal_text();
        return status;
    }
    if (domain->device_list_replies == 0) {
        status.detail =
            domain->client.state() == kStateReady ? "no device list yet" : "not connected";
        return status;
    }
    const std::vector<Ref<CSesDev>> devices = SnapshotDevices(domain);
    int unread = 0;
    std::vector<CSesDev*> failed;
    for (const Ref<CSesDev>& device : devices) {
        const bool ready = device->Flags() & kDeviceReady;
        const bool gave_up = !ready && !device->chain_running && device->chain_error != 0;
        unread += ready || gave_up ? 0 : 1;
        if (gave_up) failed.push_back(device.get());
    }
    const bool none = devices.empty();
    const bool all_failed = !none && failed.size() == devices.size();
    if (all_failed) status.detail = DeviceErrors(failed);
    if (none) {
        status.outcome = HostOutcome::kNoDevices;
    } else if (all_failed) {
        status.outcome = HostOutcome::kUnreadable;
    } else if (unread == 0) {
        status.outcome = HostOutcome::kReady;
    } else {
        status.detail = std::to_string(unread) + " device(s) still being read";
    }
    return status;
}

// Only hosts the client gave up on for 100 s; a lost connection or a refused
// hello is retried on the client's own short schedule.
void ManagerSession::RetryUnreachable() {
    loop_.RetryUnreachable();
}

std::vector<HostStatus> ManagerSession::WaitUntilRead(std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        Poll();
        std::vector<HostStatus> all;
        bool settled = true;
        for (size_t i = 0; i < domains_.size(); ++i) {
            all.push_back(StatusOf(i));
            const HostOutcome outcome = all.back().outcome;
            // Waiting mends neither a name that does not resolve nor a
            // refused connection, unless asked to wait for the host.
            settled =
                settled && outcome != HostOutcome::kTimedOut &&
                !(outcome == HostOutcome::kUnreachable && domains_[i] && keep_trying_unreachable_);
        }
        if (settled || interrupted() || std::chrono::steady_clock::now() >= deadline) return all;
        if (keep_trying_unreachable_) RetryUnreachable();
        WaitForNextStep();
    }
}

}  // namespace halvorin::ctl
