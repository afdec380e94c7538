// Connections of many hosts share the loop's few threads; no more than the
// loop's limit try to connect at once, the others wait their turn; replies
// of every host come through the one shared completion signal.
#include "net/client/connection_loop.h"

#include <poll.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <thread>

#include "tests/client/client_fixture.h"

namespace halvorin {
namespace {

using test::FakeAgent;

size_t ThreadsOfThisProcess() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        ++n;
    return n;
}

// An agent that accepts connections and never answers: every client stays
// in its connection attempt (hello sent, no answer) until its hello times out.
FakeAgent::Handler SilentAgent() {
    return [](FakeAgent&, int, const WireMessage&) {};
}

TEST(ConnectionLoop, ManyHostsShareTheLoopsThreadsAndConnectInTurn) {
    test::FakeAgent silent(SilentAgent());
    ConnectionLoop loop(2);
    ManualClock clock(1'000'000);
    ClientOptions options;
    options.clock = &clock;
    options.loop = &loop;
    options.completions = std::make_shared<CompletionSignal>();
    const size_t threads_before = ThreadsOfThisProcess();
    constexpr int kHosts = 150;
    std::vector<std::unique_ptr<CSesClient>> clients;
    for (int i = 0; i < kHosts; ++i) {
        clients.push_back(std::make_unique<CSesClient>(test::Loopback(silent.port()), options));
        ASSERT_EQ(clients.back()->Start(), kOk);
    }
    // The first kMaxConnectAttempts say hello; the rest wait for a turn.
    ASSERT_TRUE(test::Eventually(
        [&] { return silent.connections() == ConnectionLoop::kMaxConnectAttempts; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(silent.connections(), ConnectionLoop::kMaxConnectAttempts);
    EXPECT_EQ(loop.attempts(), ConnectionLoop::kMaxConnectAttempts);
    int waiting = 0;
    for (const auto& client : clients)
        waiting += client->state() == kStateWaiting;
    EXPECT_EQ(waiting, kHosts - ConnectionLoop::kMaxConnectAttempts);
    // The loop's two threads (and one name lookup at a time per attempt at
    // most) carry them all, not a thread per host.
    EXPECT_LE(ThreadsOfThisProcess(), threads_before + 2 + ConnectionLoop::kMaxConnectAttempts);

    // Their hellos time out: the attempts end and the next hosts get theirs.
    std::set<const CSesClient*> had_a_turn;
    ASSERT_TRUE(test::Eventually(
        [&] {
            clock.AdvanceSeconds(1);
            for (const auto& client : clients) {
                if (client->state() == kStateHelloSent) had_a_turn.insert(client.get());
                client->Wake();
                client->DeliverCompleted();
            }
            EXPECT_LE(loop.attempts(), ConnectionLoop::kMaxConnectAttempts);
            return had_a_turn.size() == clients.size();
        },
        std::chrono::seconds(30)));
    for (auto& client : clients)
        client->Stop();
    EXPECT_EQ(loop.attempts(), 0);
}

// Every client's finished requests are announced on the one shared signal,
// which hands out each client that has some, once.
TEST(ConnectionLoop, RepliesOfEveryHostComeThroughTheSharedSignal) {
    test::FakeAgent agent([](FakeAgent& a, int c, const WireMessage& m) {
        if (m.header.type == MSG_HELLO)
            a.AcceptHello(c, m.header);
        else
            a.Reply(c, m.header, 0);
    });
    ClientOptions options;
    options.completions = std::make_shared<CompletionSignal>();
    std::vector<std::unique_ptr<CSesClient>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<CSesClient>(test::Loopback(agent.port()), options));
        ASSERT_EQ(clients.back()->Start(), kOk);
        EXPECT_EQ(clients.back()->completion_fd(), options.completions->fd());
    }
    std::set<CSesClient*> announced;
    ASSERT_TRUE(test::Eventually([&] {
        pollfd signal{options.completions->fd(), POLLIN, 0};
        if (::poll(&signal, 1, 10) > 0) {
            for (CSesClient* client : options.completions->Take()) {
                announced.insert(client);
                client->DeliverCompleted();  // the hello's answer
            }
        }
        return std::all_of(clients.begin(), clients.end(),
                           [](const auto& c) { return c->state() == kStateReady; });
    }));
    EXPECT_EQ(announced.size(), clients.size());
    // Quiet once taken and delivered.
    pollfd signal{options.completions->fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&signal, 1, 0), 0);
    for (auto& client : clients)
        client->Stop();
}

}  // namespace
}  // namespace halvorin
