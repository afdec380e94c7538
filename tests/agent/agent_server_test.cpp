#include <thread>

#include "base/log.h"
#include "tests/agent/agent_test_fixture.h"

namespace halvorin {
namespace {

using namespace std::chrono_literals;
using test::AgentTest;
using test::kEnclosure;
using test::WireClient;

using test::kReadStatusCdb;

std::vector<uint8_t> ScsiOutPayload(const SES_ADDR& address, uint32_t transfer_length,
                                    size_t data_bytes) {
    SCSI_REQ req;
    req.address = address;
    req.cdb = {0x3B, 0x01, 0xE9};
    req.transfer_length = transfer_length;
    req.timeout_s = 30;
    auto fixed = EncodeScsiReq(req);
    std::vector<uint8_t> payload(fixed.begin(), fixed.end());
    payload.resize(payload.size() + data_bytes, 0x5A);
    return payload;
}

// ---- hello and authorisation ---------------------------------------------------

TEST_F(AgentTest, AuthorisedHelloIsAnsweredWithTheAgentName) {
    StartAgent();
    auto& seen = notifications_;
    WireClient client(agent_->port());
    ASSERT_TRUE(client.SendHello(u"Manager-1", 0x201));
    auto reply = client.Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.status, 0);
    EXPECT_EQ(reply->header.tag, 0x201u);
    EXPECT_EQ(reply->header.type, MSG_HELLO);
    EXPECT_EQ(reply->header.request, 0);
    ASSERT_EQ(reply->payload.size(), kHelloInfoSize);
    auto hello = DecodeHello(reply->payload);
    EXPECT_EQ(hello->host_kind, 1);
    EXPECT_EQ(hello->computer_name, u"AGENT-TEST");
    EXPECT_EQ(agent_->CurrentClient(), u"Manager-1");
    std::lock_guard lock(seen.mutex);
    ASSERT_EQ(seen.kinds, std::vector<uint32_t>{kClientAuthorized});
    EXPECT_EQ(seen.names[0], u"Manager-1");
    EXPECT_EQ(seen.address_lengths[0], 16u);
}

TEST_F(AgentTest, RefusedHelloGetsMinus18AndTheConnectionClosesAboutASecondLater) {
    StartAgent();
    WireClient client(agent_->port());
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.SendHello(u"intruder"));
    auto reply = client.Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.status, kHelloRefused);
    EXPECT_EQ(reply->header.length, 0u);
    EXPECT_TRUE(client.ClosedWithin(3s));
    const auto elapsed = std::chrono::steady_clock::now() - sent;
    EXPECT_GE(elapsed, 900ms);
    EXPECT_LT(elapsed, 2500ms);
    EXPECT_EQ(agent_->CurrentClient(), u"");
}

TEST_F(AgentTest, RequestsBeforeAnAuthorisedHelloAreRefusedAndNeverRun) {
    StartAgent();
    WireClient client(agent_->port());
    ASSERT_TRUE(client.SendScsiIn(kEnclosure, kReadStatusCdb, 7));
    auto reply = client.Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.status, kHelloRefused);
    EXPECT_EQ(reply->header.tag, 7u);
    EXPECT_TRUE(client.ClosedWithin(3s));
    EXPECT_EQ(host_->executions, 0);
}

TEST_F(AgentTest, HelloShorterThanItsRecordIsRefused) {
    StartAgent();
    WireClient client(agent_->port());
    ASSERT_TRUE(client.Send(MSG_HELLO, 1, std::vector<uint8_t>(100, 0)));
    auto reply = client.Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.status, kHelloRefused);
}

TEST_F(AgentTest, StrangerWhoNeverSaysHelloIsDisconnected) {
    StartAgent();  // 10 waits of 50 ms
    WireClient silent(agent_->port());
    EXPECT_TRUE(silent.ClosedWithin(2s));
    // The slot is free again for a real manager.
    auto manager = Manager();
    EXPECT_EQ(agent_->CurrentClient(), u"manager-1");
}

TEST_F(AgentTest, RemovingTheClientFromTheListDropsItWhileAnotherLetterCaseKeepsIt) {
    StartAgent();
    auto& seen = notifications_;
    auto client = Manager();
    agent_->SetAuthorized({u"Other", u"MANAGER-1"});
    EXPECT_FALSE(client->ClosedWithin(300ms));
    agent_->SetAuthorized({u"manager-1"});
    EXPECT_FALSE(client->ClosedWithin(300ms));
    agent_->SetAuthorized({u"Other"});
    EXPECT_TRUE(client->ClosedWithin(2s));
    EXPECT_EQ(agent_->CurrentClient(), u"");
    std::lock_guard lock(seen.mutex);
    EXPECT_EQ(seen.kinds, (std::vector<uint32_t>{kClientAuthorized, kClientGone}));
    EXPECT_EQ(seen.names[1], u"manager-1");
}

TEST_F(AgentTest, ClosingTheConnectionReportsTheClientGone) {
    StartAgent();
    auto& seen = notifications_;
    auto client = Manager();
    client->Close();
    for (int i = 0; i < 100 && agent_->CurrentClient() != u""; ++i)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(agent_->CurrentClient(), u"");
    std::lock_guard lock(seen.mutex);
    EXPECT_EQ(seen.kinds, (std::vector<uint32_t>{kClientAuthorized, kClientGone}));
}

TEST_F(AgentTest, WithRoomForOneManagerTheSecondWaitsUntilTheFirstLeaves) {
    AgentOptions options;
    options.max_managers = 1;
    StartAgent(options);
    auto first = Manager();
    WireClient second(agent_->port());
    ASSERT_TRUE(second.connected());
    ASSERT_TRUE(second.SendHello(u"manager-1", 2));
    EXPECT_FALSE(second.Receive(500ms));
    first->Close();
    auto reply = second.Receive(3s);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.status, 0);
    EXPECT_EQ(reply->header.tag, 2u);
}

// ---- framing -------------------------------------------------------------------

TEST_F(AgentTest, LargestPayloadIsAcceptedAndOneByteMoreClosesTheConnection) {
    StartAgent();
    auto client = Manager();
    ASSERT_TRUE(client->Send(MSG_ENUM_DEVICES, 1));  // makes the enclosure known
    ASSERT_TRUE(client->Receive());
    const uint32_t data = kMaxPayload - kScsiReqSize;
    ASSERT_TRUE(client->Send(MSG_SCSI_OUT, 2, ScsiOutPayload(kEnclosure, data, data)));
    auto reply = client->Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.status, 0);
    EXPECT_EQ(last_io_size_, data);

    std::array<uint8_t, kHeaderSize> header;
    MSG_HDR too_long;
    too_long.length = kMaxPayload + 1;
    too_long.type = MSG_SCSI_OUT;
    too_long.request = 1;
    EncodeHeader(too_long, header);
    ASSERT_TRUE(client->SendBytes(std::vector<uint8_t>(header.begin(), header.end())));
    EXPECT_TRUE(client->ClosedWithin(2s));
}

TEST_F(AgentTest, WrongMagicClosesTheConnection) {
    StartAgent();
    auto client = Manager();
    MSG_HDR header;
    header.magic = 0x12345678;
    header.type = MSG_ENUM_DEVICES;
    header.request = 1;
    ASSERT_TRUE(client->SendBytes(BuildMessage(header, {})));
    EXPECT_TRUE(client->ClosedWithin(2s));
}

TEST_F(AgentTest, StalledHalfMessageIsDroppedAfterTenIdleWaitsButAnIdleManagerIsKept) {
    StartAgent();
    auto idle = Manager();
    EXPECT_FALSE(idle->ClosedWithin(1s));  // 20 waits without a byte: fine

    std::vector<uint8_t> half(kHeaderSize / 2, 0);
    ASSERT_TRUE(idle->SendBytes(half));
    const auto sent = std::chrono::steady_clock::now();
    EXPECT_TRUE(idle->ClosedWithin(3s));
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 400ms);
}

TEST_F(AgentTest, RepliesAndRequestsIgnoredByTypeOrDirection) {
    StartAgent();
    auto client = Manager();
    MSG_HDR reply_like;
    reply_like.type = MSG_ENUM_DEVICES;
    reply_like.request = 0;  // a reply travelling the wrong way
    reply_like.tag = 5;
    ASSERT_TRUE(client->SendBytes(BuildMessage(reply_like, {})));
    ASSERT_TRUE(client->Send(9, 6));                                         // unknown type
    ASSERT_TRUE(client->Send(MSG_SCSI_IN, 7, std::vector<uint8_t>(99, 0)));  // short fixed part
    ASSERT_TRUE(client->Send(MSG_ENUM_DEVICES, 8));
    auto reply = client->Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.tag, 8u);  // the only one answered
    EXPECT_FALSE(client->Receive(300ms));
}

// ---- commands --------------------------------------------------------------------

TEST_F(AgentTest, EnumerationListsTheEnclosureAndCommandsRunOnIt) {
    StartAgent();
    auto client = Manager();
    ASSERT_TRUE(client->Send(MSG_ENUM_DEVICES, 11));
    auto list = client->Receive();
    ASSERT_TRUE(list);
    EXPECT_EQ(list->header.status, 0);
    ASSERT_EQ(list->payload.size(), kSesAddrSize);
    EXPECT_TRUE(
        std::equal(kEnclosure.bytes.begin(), kEnclosure.bytes.end(), list->payload.begin()));

    ASSERT_TRUE(client->SendScsiIn(kEnclosure, kReadStatusCdb, 12));
    auto page = client->Receive();
    ASSERT_TRUE(page);
    EXPECT_EQ(page->header.status, 0);
    EXPECT_EQ(page->header.length, test::kStatusPage.size());
    EXPECT_EQ(page->payload, test::kStatusPage);
}

TEST_F(AgentTest, CommandsOnAddressesDiscoveryDidNotFindAreRefused) {
    StartAgent();
    auto client = Manager();
    const int before = host_->executions;
    SES_ADDR wrong_id = SES_ADDR::Make(0, DeviceId{9, 9, 9, 9, 9, 9, 9, 9}, 0, 1, 0);
    SES_ADDR data_disk = SES_ADDR::Make(0, test::kEnclosureId, 0, 2, 0);
    ASSERT_TRUE(client->SendScsiIn(wrong_id, kReadStatusCdb, 21));
    ASSERT_TRUE(client->SendScsiIn(data_disk, kReadStatusCdb, 22));
    for (int i = 0; i < 2; ++i) {
        auto reply = client->Receive();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->header.status, kAdapterOpenFailed);
        EXPECT_EQ(reply->header.length, 0u);
    }
    // Only discovery INQUIRYs reached the device, never the diagnostic read.
    for (const Cdb& cdb : host_->Cdbs())
        EXPECT_EQ(cdb[0], 0x12);
    EXPECT_GT(host_->executions, before);
}

TEST_F(AgentTest, UnknownAddressRescansAtMostOncePerInterval) {
    AgentOptions options;
    options.rescan_interval = 60s;
    StartAgent(options);
    auto client = Manager();
    SES_ADDR unknown = SES_ADDR::Make(0, DeviceId{9}, 0, 1, 0);
    for (uint32_t tag = 1; tag <= 5; ++tag)
        ASSERT_TRUE(client->SendScsiIn(unknown, kReadStatusCdb, tag));
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(client->Receive());
    EXPECT_EQ(host_->list_calls, 1);
}

TEST_F(AgentTest, DataOutLongerThanItsPayloadGetsMinus1) {
    StartAgent();
    auto client = Manager();
    ASSERT_TRUE(client->Send(MSG_SCSI_OUT, 31, ScsiOutPayload(kEnclosure, 200, 100)));
    auto reply = client->Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.status, kShortOrTooLarge);
}

TEST_F(AgentTest, DataInAllocationIsCappedAndTimeoutClamped) {
    StartAgent();
    auto client = Manager();
    ASSERT_TRUE(client->SendScsiIn(kEnclosure, kReadStatusCdb, 41, 1'000'000, 0));
    ASSERT_TRUE(client->Receive());
    EXPECT_EQ(last_io_size_, kMaxDataIn);
    EXPECT_EQ(last_timeout_, 1u);
    ASSERT_TRUE(client->SendScsiIn(kEnclosure, kReadStatusCdb, 42, 16, 100000));
    auto reply = client->Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(last_timeout_, 3600u);
    EXPECT_EQ(reply->header.length, 8u);  // the device answered less than asked
}

TEST_F(AgentTest, TwoEnumerationsInFlightGiveOneReply) {
    StartAgent();
    auto client = Manager();
    // Make scanning slow: the INQUIRYs of the first enumeration wait at a gate.
    auto slow = std::make_shared<test::ScriptedHost>(std::vector<ScsiUnit>{{5, 0, 0, 0}},
                                                     [this](const ScsiIo&, std::stop_token stop) {
                                                         gate_.Wait(stop);
                                                         return test::CheckCondition(0x05);
                                                     });
    transport_.AddHost(slow);
    ASSERT_TRUE(client->Send(MSG_ENUM_DEVICES, 51));
    ASSERT_TRUE(gate_.WaitForWaiters(1));
    ASSERT_TRUE(client->Send(MSG_ENUM_DEVICES, 52));
    std::this_thread::sleep_for(100ms);
    gate_.Open();
    auto reply = client->Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.tag, 51u);
    EXPECT_FALSE(client->Receive(400ms));
}

TEST_F(AgentTest, RequestsBeyondTheLimitGetMinus6) {
    AgentOptions options;
    options.max_in_flight = 4;
    StartAgent(options);
    auto client = Manager();
    ASSERT_TRUE(client->Send(MSG_ENUM_DEVICES, 1));
    ASSERT_TRUE(client->Receive());
    gate_commands_ = true;
    for (uint32_t tag = 100; tag < 106; ++tag)
        ASSERT_TRUE(client->SendScsiIn(kEnclosure, kReadStatusCdb, tag));
    for (int i = 0; i < 2; ++i) {
        auto busy = client->Receive();
        ASSERT_TRUE(busy);
        EXPECT_EQ(busy->header.status, kNoResource);
        EXPECT_GE(busy->header.tag, 104u);
    }
    ASSERT_TRUE(gate_.WaitForWaiters(4));
    gate_.Open();
    for (int i = 0; i < 4; ++i) {
        auto done = client->Receive();
        ASSERT_TRUE(done);
        EXPECT_EQ(done->header.status, 0);
        EXPECT_LT(done->header.tag, 104u);
    }
}

TEST_F(AgentTest, ReplyReadyAfterItsManagerLeftIsNeverSentToTheNext) {
    StartAgent();
    auto first = Manager();
    ASSERT_TRUE(first->Send(MSG_ENUM_DEVICES, 1));
    ASSERT_TRUE(first->Receive());
    gate_commands_ = true;
    ASSERT_TRUE(first->SendScsiIn(kEnclosure, kReadStatusCdb, 0x277));
    ASSERT_TRUE(gate_.WaitForWaiters(1));
    first->Close();
    std::this_thread::sleep_for(200ms);
    auto second = Manager();
    gate_.Open();
    EXPECT_FALSE(second->Receive(500ms));  // the stale reply was discarded
    ASSERT_TRUE(second->SendScsiIn(kEnclosure, kReadStatusCdb, 0x277));
    auto reply = second->Receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.status, 0);
}

// A manager that stops reading: its replies pile up in the agent. Either the
// send stalls for its limit or the outstanding count reaches twice the cap,
// and the connection goes (seen here as the client being reported gone).
TEST_F(AgentTest, AManagerThatStopsReadingIsDroppedByTheStalledSendOrTheDoubleCap) {
    const struct {
        size_t max_in_flight;
        int send_stall_waits;
        const char* log_says;
    } cases[] = {{512, 10, "send stalled"}, {4, 100000, "too many requests outstanding"}};
    std::mutex log_mutex;
    std::string log;
    SetLogSink([&](LogPriority, std::string_view line) {
        std::lock_guard lock(log_mutex);
        log.append(line).append("\n");
    });
    for (const auto& c : cases) {
        AgentOptions options;
        options.max_in_flight = c.max_in_flight;
        options.send_stall_waits = c.send_stall_waits;
        StartAgent(options);
        large_answers_ = true;
        auto client = Manager();
        ASSERT_TRUE(client->Send(MSG_ENUM_DEVICES, 1));
        ASSERT_TRUE(client->Receive());
        const int small = 2048;
        ::setsockopt(client->fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        // Paced, so that replies are made faster than the stopped reader
        // takes them: 64 KiB each, they fill the socket buffers.
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        for (uint32_t tag = 2;
             !agent_->CurrentClient().empty() && std::chrono::steady_clock::now() < deadline;
             ++tag) {
            if (tag < 2000) client->SendScsiIn(kEnclosure, kReadStatusCdb, tag, kMaxDataIn, 10);
            std::this_thread::sleep_for(1ms);
        }
        EXPECT_EQ(agent_->CurrentClient(), u"") << c.max_in_flight;
        agent_.reset();
        std::lock_guard lock(log_mutex);
        EXPECT_NE(log.find(c.log_says), std::string::npos) << log;
        log.clear();
    }
    SetLogSink(nullptr);
}

// ---- life cycle ------------------------------------------------------------------

TEST_F(AgentTest, StopReturnsPromptlyWhileAWorkerWaitsOnASlowDevice) {
    StartAgent();
    auto client = Manager();
    ASSERT_TRUE(client->Send(MSG_ENUM_DEVICES, 1));
    ASSERT_TRUE(client->Receive());
    gate_commands_ = true;
    ASSERT_TRUE(client->SendScsiIn(kEnclosure, kReadStatusCdb, 2, kMaxDataIn, 3600));
    ASSERT_TRUE(gate_.WaitForWaiters(1));
    const auto start = std::chrono::steady_clock::now();
    agent_->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_TRUE(client->ClosedWithin(1s));
}

// SG_IO cannot be interrupted: Stop gives up on such a command after its
// grace time, closes every socket, and the command ends in its own time.
TEST_F(AgentTest, StopLeavesACommandStuckInTheKernelBehind) {
    AgentOptions options;
    options.stop_grace = 200ms;
    StartAgent(options);
    auto client = Manager();
    ASSERT_TRUE(client->Send(MSG_ENUM_DEVICES, 1));
    ASSERT_TRUE(client->Receive());
    gate_commands_ = true;
    ignore_stop_ = true;
    ASSERT_TRUE(client->SendScsiIn(kEnclosure, kReadStatusCdb, 2, kMaxDataIn, 3600));
    ASSERT_TRUE(gate_.WaitForWaiters(1));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(agent_->Stop(), 1u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_TRUE(client->ClosedWithin(1s));
    WireClient late(agent_->port());
    EXPECT_FALSE(late.connected());  // nobody listens any more
    gate_.Open();
    agent_.reset();  // waits for the command to come back from the "kernel"
}

// Strangers that connect and never speak wait beside the served manager and
// are closed on their own deadlines; they cannot keep a manager out.
TEST_F(AgentTest, SilentStrangersDoNotKeepTheManagerOut) {
    AgentOptions options;
    options.max_waiting = 4;
    StartAgent(options);
    std::vector<std::unique_ptr<WireClient>> strangers;
    for (int i = 0; i < 10; ++i) {
        strangers.push_back(std::make_unique<WireClient>(agent_->port()));
        ASSERT_TRUE(strangers.back()->connected());
    }
    auto manager = Manager();  // answered at once, in front of every stranger
    for (int i = 0; i < 10; ++i)
        strangers.push_back(std::make_unique<WireClient>(agent_->port()));
    ASSERT_TRUE(manager->Send(MSG_ENUM_DEVICES, 7));
    auto reply = manager->Receive(2s);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->header.tag, 7u);
    // The oldest strangers were pushed out, the rest go at their deadline.
    EXPECT_TRUE(strangers.front()->ClosedWithin(1s));
    EXPECT_TRUE(strangers.back()->ClosedWithin(2s));
    EXPECT_EQ(agent_->CurrentClient(), u"manager-1");
}

TEST_F(AgentTest, PortInUseFailsWithAReasonAndRestartBindsAtOnce) {
    StartAgent();
    AgentOptions options;
    options.port = agent_->port();
    AgentServer second(transport_, options);
    EXPECT_EQ(second.Start(), kNoResource);
    EXPECT_NE(second.StartError().find("port"), std::string::npos) << second.StartError();

    // With a connection just closed (TIME_WAIT), the same port binds again.
    const uint16_t port = agent_->port();
    { auto client = Manager(); }
    agent_->Stop();
    options.port = port;
    AgentServer rebound(transport_, options);
    EXPECT_EQ(rebound.Start(), kOk) << rebound.StartError();
}

}  // namespace
}  // namespace halvorin
