// The client against the real agent server over loopback.
#include <thread>

#include "net/agent/agent_server.h"
#include "sim/sim_host.h"
#include "tests/client/client_fixture.h"
#include "tests/support/sim_fixture.h"

namespace halvorin {
namespace {

using namespace std::chrono_literals;
using test::Outcomes;

class ClientAgentTest : public test::ClientTest {
  protected:
    void StartAgent(uint16_t port = 0) {
        AgentOptions options;
        options.accept_claimed_names = true;  // made-up manager names
        options.port = port;
        options.wait_interval = 50ms;
        agent_ = std::make_unique<AgentServer>(sim_.transport_, options);
        ASSERT_EQ(agent_->Start(), kOk) << agent_->StartError();
        agent_->SetAuthorized({u"test-manager"});
    }
    bool Ready(CSesClient& client) {
        return test::Eventually([&] {
            client.DeliverCompleted();
            return client.state() == kStateReady;
        });
    }

    test::SimFixture sim_{test::LoadShippedScenario("jbod24.json")};
    std::unique_ptr<AgentServer> agent_;
};

TEST_F(ClientAgentTest, EnumeratesAndReadsAPageThroughTheAgent) {
    StartAgent();
    CSesClient client(test::Loopback(agent_->port()), Options());
    ASSERT_EQ(client.Start(), kOk);
    ASSERT_TRUE(Ready(client));
    EXPECT_EQ(client.host_kind(), 1);
    Outcomes outcomes;
    ASSERT_EQ(client.Enqueue(MSG_ENUM_DEVICES, {}, 10, outcomes.For(1)), kOk);
    ASSERT_TRUE(Completes(client, outcomes, 1));
    ASSERT_EQ(outcomes.results[1], std::vector<int>{static_cast<int>(kSesAddrSize)});
    SES_ADDR device = SES_ADDR::FromBytes(
        std::span<const uint8_t, kSesAddrSize>(outcomes.payloads[1].data(), kSesAddrSize));
    ASSERT_EQ(client.SendScsiIn(device, Cdb{0x1C, 0x01, 0x01, 0xFF, 0xFF}, 30, outcomes.For(2)),
              kOk);
    ASSERT_TRUE(Completes(client, outcomes, 2));
    EXPECT_GT(outcomes.results[2][0], 40);
    EXPECT_EQ(outcomes.payloads[2][0], 0x01);
    client.Stop();
}

TEST_F(ClientAgentTest, UnauthorisedNameIsRefusedAndRetried) {
    StartAgent();
    agent_->SetAuthorized({u"someone-else"});
    CSesClient client(test::Loopback(agent_->port()), Options());
    ASSERT_EQ(client.Start(), kOk);
    ASSERT_TRUE(test::Eventually([&] {
        client.DeliverCompleted();
        return client.state() == kStateWaiting && client.retry_time() == clock_.NowSeconds() + 5;
    }));
    agent_->SetAuthorized({u"TEST-MANAGER"});
    AdvanceSeconds(client, 5);
    EXPECT_TRUE(Ready(client));
    client.Stop();
}

TEST_F(ClientAgentTest, AgentRestartedMidTrafficEndsEveryRequestOnceAndTheClientReturns) {
    StartAgent();
    const uint16_t port = agent_->port();
    CSesClient client(test::Loopback(port), Options());
    ASSERT_EQ(client.Start(), kOk);
    ASSERT_TRUE(Ready(client));
    Outcomes enumeration;
    client.Enqueue(MSG_ENUM_DEVICES, {}, 10, enumeration.For(0));
    ASSERT_TRUE(Completes(client, enumeration, 0));
    const SES_ADDR device = sim_.Device();

    // Keep requests flowing while the agent goes away and comes back.
    Outcomes outcomes;
    int sent = 0;
    std::atomic<bool> restarted{false};
    std::thread restarter([&] {
        std::this_thread::sleep_for(100ms);
        agent_->Stop();
        agent_.reset();
        std::this_thread::sleep_for(100ms);
        StartAgent(port);
        restarted = true;
    });
    const auto until = std::chrono::steady_clock::now() + 600ms;
    while (std::chrono::steady_clock::now() < until) {
        if (client.SendScsiIn(device, Cdb{0x1C, 0x01, 0x02, 0xFF, 0xFF}, 30, outcomes.For(sent)) ==
            kOk)
            ++sent;
        client.DeliverCompleted();
        std::this_thread::sleep_for(2ms);
    }
    restarter.join();
    ASSERT_TRUE(restarted);
    AdvanceSeconds(client, 2);
    ASSERT_TRUE(Ready(client));
    // Whatever was still waiting when the connection came back is answered; let
    // the queue drain, then every request must have ended exactly once.
    ASSERT_TRUE(test::Eventually([&] {
        client.DeliverCompleted();
        return client.pending_requests() == 0;
    }));
    client.DeliverCompleted();
    int lost = 0, answered = 0;
    for (int i = 0; i < sent; ++i) {
        ASSERT_EQ(outcomes.results[i].size(), 1u) << i;
        const int r = outcomes.results[i][0];
        if (r == kConnectionLost)
            ++lost;
        else if (r > 0)
            ++answered;
        else
            ADD_FAILURE() << "request " << i << " ended with " << r;
    }
    EXPECT_GT(answered, 0);
    EXPECT_EQ(lost + answered, sent);
    // And the client said hello again on the new connection.
    Outcomes after;
    ASSERT_EQ(client.SendScsiIn(device, Cdb{0x1C, 0x01, 0x02, 0xFF, 0xFF}, 30, after.For(0)), kOk);
    ASSERT_TRUE(Completes(client, after, 0));
    EXPECT_GT(after.results[0][0], 0);
    client.Stop();
}

}  // namespace
}  // namespace halvorin
