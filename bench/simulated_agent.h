// A real agent on a free loopback port serving one shipped scenario, for the
// benchmarks that measure the agent or a manager of it.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "base/clock.h"
#include "net/agent/agent_server.h"
#include "sim/attach.h"

namespace halvorin::bench {

class SimulatedAgent {
  public:
    // Attaches sim/scenarios/`file` and starts the agent for `manager`
    // (benchmark names are made up, so they are taken as claimed). False,
    // with the reason on standard error, when either fails.
    bool Start(const char* file, AgentOptions options, const std::u16string& manager) {
        std::string error;
        simulated_ = sim::AttachScenarios(
            transport_, {std::string(HALVORIN_SOURCE_DIR) + "/sim/scenarios/" + file},
            SystemClock(), error);
        if (!simulated_) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return false;
        }
        options.port = 0;
        options.accept_claimed_names = true;
        agent_ = std::make_unique<AgentServer>(transport_, options);
        if (agent_->Start() != kOk) {
            std::fprintf(stderr, "%s\n", agent_->StartError().c_str());
            return false;
        }
        agent_->SetAuthorized({manager});
        return true;
    }

    ScsiTransport& transport() { return transport_; }
    AgentServer& agent() { return *agent_; }
    uint16_t port() const { return agent_->port(); }

  private:
    ScsiTransport transport_;
    std::shared_ptr<sim::SimHost> simulated_;
    std::unique_ptr<AgentServer> agent_;  // goes before the enclosures it serves
};

}  // namespace halvorin::bench
