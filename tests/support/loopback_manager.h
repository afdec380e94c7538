// A manager and an agent in one process: simulated enclosures behind a real
// agent on loopback and a domain for it, with the poll step run by the
// caller. One manual clock drives the scenarios, the client and the poll
// step, so hours of enclosure life take moments. The desktop tests, the
// window renderer and the benchmarks use it to fill a model exactly as the
// program does.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/clock.h"
#include "enclosure/model/domain_registry.h"
#include "enclosure/poll/poll_loop.h"
#include "enclosure/scsi/scsi_transport.h"
#include "net/agent/agent_server.h"
#include "sim/scenario.h"
#include "sim/sim_host.h"

namespace halvorin::test {

class LoopbackManager {
  public:
    explicit LoopbackManager(const std::vector<sim::Scenario>& scenarios);
    ~LoopbackManager();
    LoopbackManager(const LoopbackManager&) = delete;
    LoopbackManager& operator=(const LoopbackManager&) = delete;

    // The name managers of these agents say hello with.
    static constexpr char16_t kManagerName[] = u"LOOPBACK-MANAGER";
    // Options for a registry of one's own that reaches loopback agents.
    static ClientOptions ManagerOptions(Clock& clock);

    // Starts the agent and acquires its domain; false (and `error`) when the
    // agent cannot listen.
    bool Start(std::string& error);
    // Starts only the agent, for a registry elsewhere (HostName() reaches it).
    bool StartAgent(std::string& error, uint16_t port = 0);
    // Stops the agent, as if its host went away; StartAgent on the same port
    // brings it back.
    void StopAgent() { agent_.reset(); }
    std::u16string HostName() const;
    uint16_t AgentPort() const { return agent_ ? agent_->port() : 0; }

    CSesDomain* domain() { return domain_; }
    DomainRegistry& registry() { return *registry_; }
    ManualClock& clock() { return clock_; }
    sim::SimulatedEnclosure& enclosure(size_t i = 0) { return *enclosures_.at(i); }
    sim::SimHost& host() { return *host_; }

    void Poll();
    // Polls until `done` or the real-time limit; true when done.
    bool PollUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Every one of `devices` devices has finished its first read chain.
    bool AllRead(size_t devices);
    // Moves scenario time on, then polls until the requests that caused have ended.
    void Advance(int seconds);

  private:
    ManualClock clock_;
    std::shared_ptr<sim::SimHost> host_;
    std::vector<std::shared_ptr<sim::SimulatedEnclosure>> enclosures_;
    ScsiTransport transport_;
    std::unique_ptr<AgentServer> agent_;
    std::unique_ptr<DomainRegistry> registry_;
    CSesDomain* domain_ = nullptr;
    std::unique_ptr<PollLoop> loop_;  // its poll, once Start has acquired the domain
};

}  // namespace halvorin::test
