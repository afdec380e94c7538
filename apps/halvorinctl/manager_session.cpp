#include "apps/halvorinctl/manager_session.h"

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
        case HostOutcome::kNoDevices:
            return "no devices";
        case HostOutcome::kTimedOut:
            return "timed out";
    }
    return "?";
}

ManagerSession::ManagerSession(std::vector<std::string> hosts, ClientOptions options)
    : hosts_(std::move(hosts)), registry_(std::move(options)) {
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
    for (CSesDomain* domain : domains_) {
        if (domain) PollStep(domain);
    }
}

void ManagerSession::WaitForNextStep() {
    const auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPollIntervalMs);
    while (std::chrono::steady_clock::now() < next) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        for (CSesDomain* domain : domains_) {
            if (domain) domain->client.DeliverCompleted();
        }
    }
}

void ManagerSession::PollFor(std::chrono::milliseconds duration) {
    const auto until = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < until) {
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
        return status;
    }
    if (domain->client.last_hello_result() == kHelloRefused) {
        status.outcome = HostOutcome::kRefused;
        return status;
    }
    if (domain->device_list_replies == 0) {
        status.detail =
            domain->client.state() == kStateReady ? "no device list yet" : "not connected";
        return status;
    }
    std::vector<CSesDev*> devices = SnapshotDevices(domain);
    int unread = 0;
    for (CSesDev* device : devices) {
        const bool ended = (device->Flags() & kDeviceReady) ||
                           (!device->chain_running && device->chain_error != 0);
        unread += ended ? 0 : 1;
    }
    const bool none = devices.empty();
    ReleaseDevices(devices);
    if (none) {
        status.outcome = HostOutcome::kNoDevices;
    } else if (unread == 0) {
        status.outcome = HostOutcome::kReady;
    } else {
        status.detail = std::to_string(unread) + " device(s) still being read";
    }
    return status;
}

std::vector<HostStatus> ManagerSession::WaitUntilRead(std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        Poll();
        std::vector<HostStatus> all;
        bool settled = true;
        for (size_t i = 0; i < domains_.size(); ++i) {
            all.push_back(StatusOf(i));
            settled = settled && all.back().outcome != HostOutcome::kTimedOut;
        }
        if (settled || std::chrono::steady_clock::now() >= deadline) return all;
        WaitForNextStep();
    }
}

}  // namespace halvorin::ctl
