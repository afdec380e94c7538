// A LoopbackManager that starts at once, for the tests of the model, the
// poll and the operations: simulated enclosures behind a real agent on
// loopback, a domain for it, and the poll run by the test on one manual
// clock, so an hour of enclosure life takes milliseconds.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "enclosure/model/ses_domain.h"
#include "enclosure/poll/poll_step.h"
#include "tests/support/loopback_manager.h"
#include "tests/support/sim_fixture.h"

namespace halvorin::test {

class ManagerHarness : public LoopbackManager {
  public:
    explicit ManagerHarness(const std::vector<sim::Scenario>& scenarios)
        : LoopbackManager(scenarios) {
        std::string error;
        EXPECT_TRUE(Start(error)) << error;
    }

    // Stops the agent (the connection drops) and starts it again on its port.
    void RestartAgent() {
        const uint16_t port = AgentPort();
        StopAgent();
        std::string error;
        EXPECT_TRUE(StartAgent(error, port)) << error;
    }

    // The collected sub-enclosures, each with its reference.
    std::vector<Ref<CSubEnc>> Enclosures() { return CollectSubEnclosures(domain()); }
    size_t EnclosureCount() { return Enclosures().size(); }
};

}  // namespace halvorin::test
