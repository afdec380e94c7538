// A manager and an agent in one process: simulated enclosures behind a real
// agent on loopback, a domain for it, and the poll step run by the test. One
// manual clock drives the scenario, the client and the poll step, so an hour
// of enclosure life takes milliseconds.
#pragma once

#include <gtest/gtest.h>

#include <thread>

#include "base/utf16.h"
#include "enclosure/model/domain_registry.h"
#include "enclosure/poll/poll_loop.h"
#include "enclosure/poll/poll_step.h"
#include "net/agent/agent_server.h"
#include "sim/sim_host.h"
#include "tests/support/fake_agent.h"
#include "tests/support/sim_fixture.h"

namespace halvorin::test {

class ManagerHarness {
  public:
    explicit ManagerHarness(const std::vector<sim::Scenario>& scenarios)
        : host_(std::make_shared<sim::SimHost>()) {
        for (const sim::Scenario& s : scenarios) {
            enclosures_.push_back(std::make_shared<sim::SimulatedEnclosure>(s, clock_));
            host_->Add(enclosures_.back());
        }
        transport_.AddHost(host_);
        StartAgent(0);

        ClientOptions options;
        options.clock = &clock_;
        options.computer_name = u"TEST-MANAGER";
        options.max_wait = std::chrono::milliseconds(10);
        registry_ = std::make_unique<DomainRegistry>(options);
        domain_ = registry_->Acquire(Utf8ToUtf16("127.0.0.1:" + std::to_string(agent_->port())));
        loop_ = std::make_unique<PollLoop>(*registry_);
    }
    ~ManagerHarness() {
        loop_.reset();
        registry_->Release(domain_);
        registry_.reset();
        agent_->Stop();
    }

    CSesDomain* domain() { return domain_; }

    // Stops the agent (the connection drops) and starts it again on its port.
    void RestartAgent() {
        const uint16_t port = agent_->port();
        agent_->Stop();
        agent_.reset();
        StartAgent(port);
    }
    sim::SimulatedEnclosure& enclosure(size_t i = 0) { return *enclosures_.at(i); }
    ManualClock& clock() { return clock_; }

    void Poll() { loop_->Turn(); }

    template <typename Predicate>
    bool PollUntil(Predicate predicate,
                   std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        return Eventually(
            [&] {
                Poll();
                return predicate();
            },
            limit);
    }

    // Every device of the domain has finished its first read chain (or given up).
    bool AllRead(size_t expected_devices) {
        std::vector<Ref<CSesDev>> devices = SnapshotDevices(domain_);
        bool done = devices.size() == expected_devices;
        for (const Ref<CSesDev>& d : devices) {
            done =
                done && ((d->Flags() & kDeviceReady) || (!d->chain_running && d->chain_error != 0));
        }
        return done && !domain_->client.pending_requests();
    }

    // Moves scenario time on, then polls until the requests that caused have ended.
    void Advance(int seconds) {
        clock_.AdvanceSeconds(seconds);
        domain_->client.Wake();
        Poll();
        // quiet(), not just nothing in flight: a handler that has not run
        // yet may still send the next link of a chain.
        PollUntil([&] { return domain_->client.quiet(); });
        Poll();
    }

    // The collected sub-enclosures, each with a reference the caller releases.
    std::vector<Ref<CSubEnc>> Enclosures() { return CollectSubEnclosures(domain_); }
    size_t EnclosureCount() {
        std::vector<Ref<CSubEnc>> all = CollectSubEnclosures(domain_);
        const size_t n = all.size();
        return n;
    }

  private:
    void StartAgent(uint16_t port) {
        AgentOptions agent_options;
        agent_options.accept_claimed_names = true;  // made-up manager names
        agent_options.port = port;
        agent_options.wait_interval = std::chrono::milliseconds(50);
        agent_options.rescan_interval = std::chrono::milliseconds(0);
        agent_ = std::make_unique<AgentServer>(transport_, agent_options);
        EXPECT_EQ(agent_->Start(), 0) << agent_->StartError();
        agent_->SetAuthorized({u"TEST-MANAGER"});
    }

    ManualClock clock_;
    std::shared_ptr<sim::SimHost> host_;
    std::vector<std::shared_ptr<sim::SimulatedEnclosure>> enclosures_;
    ScsiTransport transport_;
    std::unique_ptr<AgentServer> agent_;
    std::unique_ptr<DomainRegistry> registry_;
    CSesDomain* domain_ = nullptr;
    std::unique_ptr<PollLoop> loop_;
};

}  // namespace halvorin::test
