// The client against scripted agents and unreachable hosts, on a manual clock.
#include <arpa/inet.h>

#include <thread>

#include "tests/client/client_fixture.h"

namespace halvorin {
namespace {

using namespace std::chrono_literals;
using test::ClientTest;
using test::FakeAgent;
using test::Outcomes;

const SES_ADDR kDevice = SES_ADDR::Make(0, DeviceId{1, 2, 3, 4, 5, 6, 7, 8}, 0, 1, 0);
const Cdb kReadStatus = {0x1C, 0x01, 0x02, 0xFF, 0xFF};

// Accepts every hello and answers every SCSI request with 4 bytes.
FakeAgent::Handler FriendlyAgent() {
    return [](FakeAgent& agent, int c, const WireMessage& m) {
        if (m.header.type == MSG_HELLO)
            agent.AcceptHello(c, m.header);
        else
            agent.Reply(c, m.header, 4, {1, 2, 3, 4});
    };
}

TEST_F(ClientTest, SaysHelloThenRequestsFlowAndRepliesMatchTheirTags) {
    FakeAgent agent(FriendlyAgent());
    CSesClient client(test::Loopback(agent.port()), Options());
    ASSERT_EQ(client.Start(), kOk);
    ASSERT_TRUE(ReachesState(client, kStateHelloSent));
    client.DeliverCompleted();
    ASSERT_TRUE(test::Eventually([&] {
        client.DeliverCompleted();
        return client.state() == kStateReady;
    }));
    EXPECT_EQ(client.host_kind(), 0x20);
    Outcomes outcomes;
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(client.SendScsiIn(kDevice, kReadStatus, 30, outcomes.For(i)), kOk);
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(Completes(client, outcomes, i));
        EXPECT_EQ(outcomes.results[i], std::vector<int>{4});
        EXPECT_EQ(outcomes.payloads[i], (std::vector<uint8_t>{1, 2, 3, 4}));
    }
    client.Stop();
}

TEST_F(ClientTest, The513thPendingRequestFindsNoSlot) {
    auto resolver = std::make_shared<test::NoAddresses>();
    CSesClient client("nowhere.invalid", Options(resolver));
    ASSERT_EQ(client.Start(), kOk);
    Outcomes outcomes;
    for (int i = 0; i < 512; ++i)
        ASSERT_EQ(client.SendScsiIn(kDevice, kReadStatus, 30, outcomes.For(i)), kOk);
    EXPECT_EQ(client.SendScsiIn(kDevice, kReadStatus, 30, outcomes.For(512)), kNoResource);
    EXPECT_EQ(client.pending_requests(), 512u);
    client.Stop();
    for (int i = 0; i < 512; ++i)
        ASSERT_EQ(outcomes.results[i], std::vector<int>{kClosing}) << i;
    EXPECT_TRUE(outcomes.results[512].empty());
}

TEST_F(ClientTest, TimeoutZeroExpiresAfterOneTickAndLongTimeoutsCountAs63) {
    CSesClient client("nowhere.invalid", Options(std::make_shared<test::NoAddresses>()));
    ASSERT_EQ(client.Start(), kOk);
    Outcomes outcomes;
    ASSERT_EQ(client.SendScsiIn(kDevice, kReadStatus, 0, outcomes.For(0)), kOk);
    ASSERT_EQ(client.SendScsiIn(kDevice, kReadStatus, 100, outcomes.For(1)), kOk);
    Tick(client);
    client.DeliverCompleted();
    EXPECT_EQ(outcomes.results[0], std::vector<int>{kTimedOut});
    EXPECT_TRUE(outcomes.results[1].empty());
    for (int i = 2; i <= 62; ++i)
        Tick(client);
    client.DeliverCompleted();
    EXPECT_TRUE(outcomes.results[1].empty());
    Tick(client);  // the 63rd
    client.DeliverCompleted();
    EXPECT_EQ(outcomes.results[1], std::vector<int>{kTimedOut});
    client.Stop();
}

TEST_F(ClientTest, UnresolvableHostIsUnreachableAndRetried100SecondsLater) {
    auto resolver = std::make_shared<test::NoAddresses>();
    CSesClient client("nowhere.invalid", Options(resolver));
    ASSERT_EQ(client.Start(), kOk);
    ASSERT_TRUE(ReachesState(client, kStateUnreachable));
    EXPECT_EQ(resolver->calls, 1);
    EXPECT_EQ(client.retry_time(), clock_.NowSeconds() + 100);
    AdvanceSeconds(client, 99);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(resolver->calls, 1);
    AdvanceSeconds(client, 1);
    EXPECT_TRUE(test::Eventually([&] { return resolver->calls == 2; }));
    client.Stop();
}

TEST_F(ClientTest, RefusedConnectionIsSeenAsOneAndNoHelloIsSent) {
    uint16_t closed_port;
    {
        FakeAgent probe(FriendlyAgent());
        closed_port = probe.port();
    }  // nothing listens there now
    CSesClient client(test::Loopback(closed_port), Options());
    ASSERT_EQ(client.Start(), kOk);
    EXPECT_TRUE(ReachesState(client, kStateUnreachable));
    EXPECT_EQ(client.retry_time(), clock_.NowSeconds() + 100);
    client.Stop();
}

// Resolves to the addresses it was given, in order.
class FixedAddresses : public NameResolver {
  public:
    explicit FixedAddresses(std::vector<ResolvedAddress> addresses)
        : addresses_(std::move(addresses)) {}
    std::vector<ResolvedAddress> Resolve(const std::string&) override {
        ++calls;
        return addresses_;
    }
    std::atomic<int> calls{0};

  private:
    std::vector<ResolvedAddress> addresses_;
};

ResolvedAddress Address(int family, const char* text) {
    ResolvedAddress a;
    a.family = family;
    if (family == AF_INET6) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&a.address);
        v6->sin6_family = AF_INET6;
        ::inet_pton(AF_INET6, text, &v6->sin6_addr);
        a.length = sizeof *v6;
    } else {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&a.address);
        v4->sin_family = AF_INET;
        ::inet_pton(AF_INET, text, &v4->sin_addr);
        a.length = sizeof *v4;
    }
    return a;
}

// A listener whose accept queue is full: further connects get no answer at
// all, like an address behind a dead route.
struct SilentAddress {
    explicit SilentAddress(uint16_t port) {
        listener.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const sockaddr_in at = Sockaddr(port);
        ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&at), sizeof at);
        ::listen(listener.get(), 0);
        filler.reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        ::connect(filler.get(), reinterpret_cast<const sockaddr*>(&at), sizeof at);
    }
    static sockaddr_in Sockaddr(uint16_t port) {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(port);
        ::inet_pton(AF_INET, "127.0.0.2", &at.sin_addr);
        return at;
    }
    UniqueFd listener, filler;
};

// The host's first address swallows the connect; the second (IPv6) answers.
// A connect that times out moves on to the next address, without resolving
// again, and the IPv6 address gets a socket of its own family.
TEST_F(ClientTest, ConnectTimeoutMovesOnToTheNextAddress) {
    FakeAgent agent(FriendlyAgent(), 0, AF_INET6);
    SilentAddress silent(agent.port());
    auto resolver = std::make_shared<FixedAddresses>(
        std::vector{Address(AF_INET, "127.0.0.2"), Address(AF_INET6, "::1")});
    CSesClient client("storage-01:" + std::to_string(agent.port()), Options(resolver));
    ASSERT_EQ(client.Start(), kOk);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(client.state(), kStateConnecting);  // waiting on the silent address
    AdvanceSeconds(client, 10);
    ASSERT_TRUE(test::Eventually([&] {
        client.DeliverCompleted();
        return client.state() == kStateReady;
    }));
    EXPECT_EQ(resolver->calls, 1);
    EXPECT_EQ(agent.connections(), 1);
    client.Stop();
}

TEST_F(ClientTest, RefusedHelloIsRetriedEveryFiveSecondsOnANewConnection) {
    FakeAgent agent(
        [](FakeAgent& a, int c, const WireMessage& m) { a.Reply(c, m.header, kHelloRefused); });
    CSesClient client(test::Loopback(agent.port()), Options());
    ASSERT_EQ(client.Start(), kOk);
    for (int attempt = 1; attempt <= 3; ++attempt) {
        ASSERT_TRUE(test::Eventually([&] {
            client.DeliverCompleted();
            return agent.connections() == attempt && client.state() == kStateWaiting;
        })) << attempt;
        EXPECT_EQ(client.retry_time(), clock_.NowSeconds() + 5);
        AdvanceSeconds(client, 4);
        std::this_thread::sleep_for(60ms);
        EXPECT_EQ(agent.connections(), attempt);
        AdvanceSeconds(client, 1);
    }
    client.Stop();
}

TEST_F(ClientTest, StoppingWhileTheNameLookupHangsReturnsAtOnceAndEndsEveryRequestOnce) {
    auto resolver = std::make_shared<test::HangingResolver>();
    auto client = std::make_unique<CSesClient>("slow-dns.example", Options(resolver));
    ASSERT_EQ(client->Start(), kOk);
    ASSERT_TRUE(test::Eventually([&] { return resolver->calls == 1; }));
    Outcomes outcomes;
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(client->SendScsiIn(kDevice, kReadStatus, 30, outcomes.For(i)), kOk);
    const auto start = std::chrono::steady_clock::now();
    client->Stop();
    client.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(outcomes.results[i], std::vector<int>{kClosing});
    resolver->Release();  // the abandoned lookup ends harmlessly
}

TEST_F(ClientTest, LateReplyForAReusedSlotIsDropped) {
    std::mutex mutex;
    std::vector<MSG_HDR> held;
    FakeAgent agent([&](FakeAgent& a, int c, const WireMessage& m) {
        if (m.header.type == MSG_HELLO) return a.AcceptHello(c, m.header);
        std::lock_guard lock(mutex);
        held.push_back(m.header);  // answered only when the test says so
    });
    CSesClient client(test::Loopback(agent.port()), Options());
    ASSERT_EQ(client.Start(), kOk);
    ASSERT_TRUE(test::Eventually([&] {
        client.DeliverCompleted();
        return client.state() == kStateReady;
    }));
    Outcomes outcomes;
    ASSERT_EQ(client.SendScsiIn(kDevice, kReadStatus, 1, outcomes.For(1)), kOk);
    ASSERT_TRUE(test::Eventually([&] {
        std::lock_guard l(mutex);
        return held.size() == 1;
    }));
    Tick(client);
    ASSERT_TRUE(Completes(client, outcomes, 1));
    EXPECT_EQ(outcomes.results[1], std::vector<int>{kTimedOut});

    ASSERT_EQ(client.SendScsiIn(kDevice, kReadStatus, 30, outcomes.For(2)), kOk);
    ASSERT_TRUE(test::Eventually([&] {
        std::lock_guard l(mutex);
        return held.size() == 2;
    }));
    std::lock_guard lock(mutex);
    EXPECT_EQ(held[1].tag & 511, held[0].tag & 511);  // the same slot, a new use
    EXPECT_EQ(held[1].tag, held[0].tag + 512);
    agent.Reply(1, held[0], 8, std::vector<uint8_t>(8, 0xEE));  // the late one
    agent.Reply(1, held[1], 2, {0xAB, 0xCD});
    ASSERT_TRUE(Completes(client, outcomes, 2));
    EXPECT_EQ(outcomes.results[2], std::vector<int>{2});
    EXPECT_EQ(outcomes.payloads[2], (std::vector<uint8_t>{0xAB, 0xCD}));
    EXPECT_EQ(outcomes.results[1].size(), 1u);
    client.Stop();
}

TEST_F(ClientTest, LateHelloAnswerOfAnEarlierConnectionChangesNothing) {
    FakeAgent agent([](FakeAgent& a, int c, const WireMessage& m) {
        if (c == 1) {
            a.AcceptHello(c, m.header);  // answered, then the connection is gone
            a.Close(c);
        }
        // the second connection's hello is never answered
    });
    CSesClient client(test::Loopback(agent.port()), Options());
    ASSERT_EQ(client.Start(), kOk);
    // The first connection has come and gone; its hello answer is not yet delivered.
    ASSERT_TRUE(test::Eventually([&] {
        return agent.connections() == 1 && client.state() == kStateWaiting &&
               client.retry_time() != 0;
    }));
    AdvanceSeconds(client, 2);
    ASSERT_TRUE(test::Eventually([&] {
        return agent.connections() == 2 && client.state() == kStateHelloSent;
    })) << agent.connections()
        << " connections, state " << client.state() << ", retry in "
        << client.retry_time() - clock_.NowSeconds();
    client.DeliverCompleted();  // the first connection's hello answer arrives now
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(client.state(), kStateHelloSent);
    client.Stop();
}

TEST_F(ClientTest, BrokenStreamDropsTheConnectionAndEndsWhatWasSent) {
    FakeAgent agent([](FakeAgent& a, int c, const WireMessage& m) {
        if (m.header.type == MSG_HELLO) return a.AcceptHello(c, m.header);
        MSG_HDR bad;
        bad.magic = 0xDEADBEEF;
        a.Send(c, BuildMessage(bad, {}));
    });
    CSesClient client(test::Loopback(agent.port()), Options());
    ASSERT_EQ(client.Start(), kOk);
    ASSERT_TRUE(test::Eventually([&] {
        client.DeliverCompleted();
        return client.state() == kStateReady;
    }));
    Outcomes outcomes;
    ASSERT_EQ(client.SendScsiIn(kDevice, kReadStatus, 30, outcomes.For(1)), kOk);
    ASSERT_TRUE(Completes(client, outcomes, 1));
    EXPECT_EQ(outcomes.results[1], std::vector<int>{kConnectionLost});
    EXPECT_EQ(client.state(), kStateWaiting);
    AdvanceSeconds(client, 2);
    EXPECT_TRUE(test::Eventually([&] { return agent.connections() == 2; }));
    client.Stop();
}

TEST_F(ClientTest, RequestsMadeWhileDownWaitForTheNextAcceptedHelloUnlessBoundToAConnection) {
    uint16_t port;
    {
        FakeAgent probe(FriendlyAgent());
        port = probe.port();
    }
    CSesClient client(test::Loopback(port), Options());
    ASSERT_EQ(client.Start(), kOk);
    ASSERT_TRUE(ReachesState(client, kStateUnreachable));
    Outcomes outcomes;
    ASSERT_EQ(client.SendScsiIn(kDevice, kReadStatus, 60, outcomes.For(1)), kOk);
    // A request bound to a connection never waits for another one.
    const uint64_t down = client.connection_generation();
    EXPECT_EQ(client.SendScsiIn(kDevice, kReadStatus, 60, outcomes.For(2), down), kConnectionLost);
    FakeAgent agent(FriendlyAgent(), port);
    AdvanceSeconds(client, 100);
    ASSERT_TRUE(Completes(client, outcomes, 1));
    EXPECT_EQ(outcomes.results[1], std::vector<int>{4});
    EXPECT_TRUE(outcomes.results[2].empty());
    const uint64_t up = client.connection_generation();
    EXPECT_EQ(client.SendScsiIn(kDevice, kReadStatus, 60, outcomes.For(3), down), kConnectionLost);
    ASSERT_EQ(client.SendScsiIn(kDevice, kReadStatus, 60, outcomes.For(4), up), kOk);
    ASSERT_TRUE(Completes(client, outcomes, 4));
    EXPECT_EQ(outcomes.results[4], std::vector<int>{4});
    client.Stop();
}

TEST_F(ClientTest, LargestReplyAndTheNextArriveTogether) {
    FakeAgent agent([](FakeAgent& a, int c, const WireMessage& m) {
        if (m.header.type == MSG_HELLO) return a.AcceptHello(c, m.header);
        MSG_HDR reply;
        reply.tag = m.header.tag;
        reply.type = m.header.type;
        auto big = BuildMessage(reply, std::vector<uint8_t>(kMaxPayload, 0x42));
        auto duplicate =
            BuildMessage(reply, std::vector<uint8_t>{7});  // same tag again: must be dropped
        big.insert(big.end(), duplicate.begin(), duplicate.end());
        a.Send(c, big);
    });
    CSesClient client(test::Loopback(agent.port()), Options());
    ASSERT_EQ(client.Start(), kOk);
    ASSERT_TRUE(test::Eventually([&] {
        client.DeliverCompleted();
        return client.state() == kStateReady;
    }));
    Outcomes outcomes;
    ASSERT_EQ(client.SendScsiIn(kDevice, kReadStatus, 30, outcomes.For(1)), kOk);
    ASSERT_EQ(client.SendScsiIn(kDevice, kReadStatus, 30, outcomes.For(2)), kOk);
    ASSERT_TRUE(Completes(client, outcomes, 1));
    ASSERT_TRUE(Completes(client, outcomes, 2));
    EXPECT_EQ(outcomes.results[1], std::vector<int>{static_cast<int>(kMaxPayload)});
    EXPECT_EQ(outcomes.payloads[1].size(), kMaxPayload);
    EXPECT_EQ(outcomes.results[2], std::vector<int>{static_cast<int>(kMaxPayload)});
    EXPECT_EQ(client.state(), kStateReady);
    client.Stop();
}

TEST_F(ClientTest, SendsThatWouldBlockWaitForTheNextRound) {
    FakeAgent agent(FriendlyAgent());
    CSesClient client(test::Loopback(agent.port()), Options());
    ASSERT_EQ(client.Start(), kOk);
    ASSERT_TRUE(test::Eventually([&] {
        client.DeliverCompleted();
        return client.state() == kStateReady;
    }));
    agent.SetReading(false);
    Outcomes outcomes;
    const std::vector<uint8_t> data(60000, 0x11);
    for (int i = 0; i < 60; ++i) {  // about 3.6 MB: more than the socket buffers hold
        ASSERT_EQ(client.SendScsiOut(kDevice, Cdb{0x3B, 0x01, 0xE9}, data, 60, outcomes.For(i)),
                  kOk);
    }
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(client.state(), kStateReady);
    agent.SetReading(true);
    for (int i = 0; i < 60; ++i)
        ASSERT_TRUE(Completes(client, outcomes, i)) << i;
    EXPECT_EQ(outcomes.results[59], std::vector<int>{4});
    client.Stop();
}

TEST_F(ClientTest, OversizedPayloadIsRefusedAndAClosedClientTakesNothing) {
    CSesClient client("nowhere.invalid", Options(std::make_shared<test::NoAddresses>()));
    std::vector<uint8_t> huge(kMaxPayload + 1);
    EXPECT_EQ(client.Enqueue(MSG_SCSI_OUT, huge, 30, nullptr), kShortOrTooLarge);
    EXPECT_EQ(client.SendScsiOut(kDevice, Cdb{}, std::vector<uint8_t>(kMaxPayload), 30, nullptr),
              kShortOrTooLarge);
    client.Stop();
    EXPECT_EQ(client.SendScsiIn(kDevice, kReadStatus, 30, nullptr), kClosing);
}

}  // namespace
}  // namespace halvorin
