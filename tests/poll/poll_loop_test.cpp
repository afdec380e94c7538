// The manager's poll loop over a registry of two hosts: a real agent on
// loopback and a port that refuses connections.
#include "enclosure/poll/poll_loop.h"

#include <poll.h>

#include "base/utf16.h"
#include "enclosure/model/domain_registry.h"
#include "enclosure/model/ses_domain.h"
#include "tests/support/fake_agent.h"  // Eventually
#include "tests/support/loopback_manager.h"
#include "tests/support/process.h"
#include "tests/support/sim_fixture.h"

namespace halvorin {
namespace {

using namespace std::chrono_literals;

// Waits on the registry's completion signal and steps the hosts it names.
size_t StepWhenWoken(DomainRegistry& registry, PollLoop& loop) {
    pollfd signal{registry.completions().fd(), POLLIN, 0};
    if (::poll(&signal, 1, 100) <= 0) return 0;
    return loop.StepWoken();
}

TEST(PollLoop, StepsHostsWhoseRepliesArriveRetriesTheUnreachableAndLetsGoOfHostsThatLeft) {
    test::LoopbackManager agent({test::LoadShippedScenario("jbod24.json")});
    std::string error;
    ASSERT_TRUE(agent.StartAgent(error)) << error;
    DomainRegistry registry(test::LoopbackManager::ManagerOptions(agent.clock()));
    CSesDomain* served = registry.Acquire(agent.HostName());
    CSesDomain* refused =
        registry.Acquire(Utf8ToUtf16("127.0.0.1:" + std::to_string(test::FreePort())));
    ASSERT_TRUE(served && refused);
    PollLoop loop(registry);
    loop.Turn();
    EXPECT_EQ(loop.watched(), 2u);

    // Replies step their host as they come, without another turn.
    size_t woken = 0;
    ASSERT_TRUE(test::Eventually([&] {
        woken += StepWhenWoken(registry, loop);
        return !SnapshotDevices(served).empty() &&
               (SnapshotDevices(served).front()->Flags() & kDeviceReady);
    }));
    EXPECT_GT(woken, 10u);

    // Refused: the client would wait 100 s; the loop asks again after 2 s.
    ASSERT_TRUE(test::Eventually([&] { return refused->client.state() == kStateUnreachable; }));
    const uint64_t connections = refused->client.connection_generation();
    const auto t0 = std::chrono::steady_clock::now();
    loop.RetryUnreachable(t0);
    loop.RetryUnreachable(t0 + 1s);
    EXPECT_EQ(refused->client.connection_generation(), connections);
    loop.RetryUnreachable(t0 + 2s);
    EXPECT_TRUE(
        test::Eventually([&] { return refused->client.connection_generation() > connections; }));

    // A host that leaves the registry leaves the loop at its next turn.
    ASSERT_EQ(registry.Remove(refused), 0);
    registry.Release(refused);
    loop.Turn();
    EXPECT_EQ(loop.watched(), 1u);
    registry.Release(served);
}

}  // namespace
}  // namespace halvorin
