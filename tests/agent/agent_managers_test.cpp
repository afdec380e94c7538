// Several managers at once, admission on facts, and the audit trail.
#include <gtest/gtest.h>

#include <thread>

#include "base/log.h"
#include "tests/agent/agent_test_fixture.h"
#include "tests/support/log_lines.h"

namespace halvorin {
namespace {

using namespace std::chrono_literals;
using test::AgentTest;
using test::kEnclosure;
using test::kReadStatusCdb;
using test::LogLines;
using test::WireClient;

std::vector<uint8_t> WriteBuffer(uint8_t mode, uint32_t offset, size_t bytes) {
    SCSI_REQ req;
    req.address = kEnclosure;
    req.cdb = {0x3B,
               mode,
               0x00,
               static_cast<uint8_t>(offset >> 16),
               static_cast<uint8_t>(offset >> 8),
               static_cast<uint8_t>(offset)};
    req.transfer_length = static_cast<uint32_t>(bytes);
    req.timeout_s = 30;
    auto fixed = EncodeScsiReq(req);
    std::vector<uint8_t> payload(fixed.begin(), fixed.end());
    payload.resize(payload.size() + bytes, 0x5A);
    return payload;
}

std::vector<uint8_t> SendDiagnostic(uint8_t page) {
    SCSI_REQ req;
    req.address = kEnclosure;
    req.cdb = {0x1D, 0x10, 0x00, 0x00, 0x08};
    req.transfer_length = 8;
    req.timeout_s = 30;
    auto fixed = EncodeScsiReq(req);
    std::vector<uint8_t> payload(fixed.begin(), fixed.end());
    const uint8_t page_bytes[8] = {page, 0, 0, 4, 0, 0, 0, 0};
    payload.insert(payload.end(), std::begin(page_bytes), std::end(page_bytes));
    return payload;
}

std::string Text(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST_F(AgentTest, EightManagersAreServedAtOnceAndTheNinthHearsWhoIsServed) {
    StartAgent();
    std::vector<std::unique_ptr<WireClient>> managers;
    for (int i = 0; i < 8; ++i)
        managers.push_back(Manager());
    // Interleaved reads and control writes on every connection, none starved.
    for (uint32_t round = 0; round < 5; ++round) {
        for (auto& m : managers) {
            ASSERT_TRUE(m->SendScsiIn(kEnclosure, kReadStatusCdb, 10 + round));
            ASSERT_TRUE(m->Send(MSG_SCSI_OUT, 100 + round, SendDiagnostic(0x02)));
        }
        for (auto& m : managers) {
            for (int replies = 0; replies < 2; ++replies) {
                auto reply = m->Receive(2s);
                ASSERT_TRUE(reply);
                EXPECT_EQ(reply->header.status, 0);
            }
        }
    }
    EXPECT_EQ(agent_->ServedManagers().size(), 8u);

    WireClient ninth(agent_->port());
    ASSERT_TRUE(ninth.SendHello(u"manager-1"));
    auto busy = ninth.Receive(1s);  // at once, not after a wait
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->header.status, kAgentBusy);
    const std::string text = Text(busy->payload);
    EXPECT_NE(text.find("serving 8 managers (manager-1 at 127.0.0.1:"), std::string::npos) << text;
    EXPECT_NE(text.find("Z"), std::string::npos) << text;  // since a UTC time
    EXPECT_TRUE(ninth.ClosedWithin(2s));

    // A place that comes free is taken by the next hello.
    managers.back()->Close();
    for (int i = 0; i < 100 && agent_->ServedManagers().size() == 8; ++i)
        std::this_thread::sleep_for(10ms);
    auto next = Manager();
    ASSERT_TRUE(next->SendScsiIn(kEnclosure, kReadStatusCdb, 7));
    EXPECT_TRUE(next->Receive());
}

// One enumeration at a time is a rule of each connection: managers that
// enumerate together all get their lists.
TEST_F(AgentTest, ManagersThatEnumerateTogetherAllGetTheirLists) {
    StartAgent();
    std::vector<std::unique_ptr<WireClient>> managers;
    for (int i = 0; i < 8; ++i)
        managers.push_back(Manager());
    for (uint32_t round = 0; round < 10; ++round) {
        for (auto& m : managers)
            ASSERT_TRUE(m->Send(MSG_ENUM_DEVICES, round));
        for (auto& m : managers) {
            auto reply = m->Receive(2s);
            ASSERT_TRUE(reply) << "round " << round;
            EXPECT_EQ(reply->payload.size(), kSesAddrSize);
        }
    }
}

TEST_F(AgentTest, ASecondFirmwareDownloadToTheSameEnclosureIsRefusedWithTheHolder) {
    LogLines log;
    StartAgent();
    auto first = Manager(u"manager-1");
    auto second = Manager(u"Manager-1");
    for (uint32_t offset = 0; offset < 3 * 4096; offset += 4096) {
        ASSERT_TRUE(first->Send(MSG_SCSI_OUT, 1 + offset, WriteBuffer(0x07, offset, 4096)));
        auto reply = first->Receive();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->header.status, 0);
    }
    ASSERT_TRUE(second->Send(MSG_SCSI_OUT, 9, WriteBuffer(0x07, 0, 4096)));
    auto refused = second->Receive();
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->header.status, kUpgradeRunning);
    EXPECT_NE(Text(refused->payload).find("manager-1 at 127.0.0.1:"), std::string::npos);
    // Reads go on meanwhile.
    ASSERT_TRUE(second->SendScsiIn(kEnclosure, kReadStatusCdb, 10));
    EXPECT_EQ(second->Receive()->header.status, 0);

    first->Close();  // the download ends with its connection
    for (int i = 0; i < 100 && agent_->ServedManagers().size() == 2; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(second->Send(MSG_SCSI_OUT, 11, WriteBuffer(0x07, 0, 4096)));
    EXPECT_EQ(second->Receive()->header.status, 0);

    // One line for the download's start, none for its middle segments, one
    // for the refusal; the device's discovery is logged too.
    EXPECT_EQ(log.Containing("WRITE BUFFER mode 0x07 buffer 0x00 offset 0: ok").size(), 2u);
    EXPECT_TRUE(log.Containing("offset 4096").empty());
    EXPECT_EQ(log.Containing("<4>refused control write by Manager-1").size(), 1u);
    EXPECT_EQ(
        log.Containing("found enclosure services device 500a0b0c0d0e0f01 (scsi 0:0:1:0)").size(),
        1u);
}

TEST_F(AgentTest, EveryControlWriteIsLoggedWithItsManagerAndResultAndReadsOnlyWhenVerbose) {
    for (const bool verbose : {false, true}) {
        LogLines log;
        AgentOptions options;
        options.verbose = verbose;
        StartAgent(options);
        auto manager = Manager(u"manager-1");
        ASSERT_TRUE(manager->Send(MSG_SCSI_OUT, 1, SendDiagnostic(0x02)));
        ASSERT_TRUE(manager->Receive());
        ASSERT_TRUE(manager->SendScsiIn(kEnclosure, kReadStatusCdb, 2));
        ASSERT_TRUE(manager->Receive());
        const auto writes = log.Containing("control write by manager-1 at 127.0.0.1:");
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_NE(writes[0].find("<5>"), std::string::npos);
        EXPECT_NE(writes[0].find("500a0b0c0d0e0f01 (scsi 0:0:1:0) SEND DIAGNOSTIC page 0x02: ok"),
                  std::string::npos)
            << writes[0];
        EXPECT_EQ(log.Containing("RECEIVE DIAGNOSTIC RESULTS page 0x02").size(), verbose ? 1u : 0u);
        agent_.reset();
    }
}

TEST_F(AgentTest, AClaimedNameIsServedOnlyWhenItResolvesToThePeer) {
    LogLines log;
    AgentOptions options;
    StartAgent(options, /*accept_claimed_names=*/false);
    agent_->SetAuthorized({u"localhost", u"manager-1"});
    EXPECT_EQ(log.Containing("names must resolve to the peer and back").size(), 1u);

    auto confirmed = Manager(u"localhost");  // 127.0.0.1 is localhost both ways
    ASSERT_TRUE(confirmed->SendScsiIn(kEnclosure, kReadStatusCdb, 2));
    EXPECT_EQ(confirmed->Receive()->header.status, 0);

    struct Case {
        const char16_t* name;
        const char* from;
    } refused[] = {
        {u"manager-1", "127.0.0.1"},  // listed, but resolves nowhere
        {u"localhost", "127.0.0.2"},  // a listed name claimed from another address
    };
    for (const Case& c : refused) {
        WireClient spoof("127.0.0.1", agent_->port(), c.from);
        ASSERT_TRUE(spoof.connected());
        ASSERT_TRUE(spoof.SendHello(c.name));
        ASSERT_TRUE(spoof.SendScsiIn(kEnclosure, kReadStatusCdb, 3));
        auto reply = spoof.Receive();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->header.status, kHelloRefused);
        EXPECT_TRUE(spoof.ClosedWithin(2s));
    }
    EXPECT_EQ(log.Containing("not confirmed").size(), 2u);

    // An address entry admits whatever the peer is called.
    agent_->SetAuthorized({u"127.0.0.2/32"});
    EXPECT_TRUE(confirmed->ClosedWithin(2s));  // no longer allowed
    WireClient by_address("127.0.0.1", agent_->port(), "127.0.0.2");
    ASSERT_TRUE(by_address.SendHello(u"any-name"));
    EXPECT_EQ(by_address.Receive()->header.status, 0);
}

TEST_F(AgentTest, ListensOnIpv6AndOnTheAddressesItIsGiven) {
    AgentOptions options;
    options.listen = {"::1"};
    StartAgent(options);
    WireClient v6("::1", agent_->port());
    ASSERT_TRUE(v6.connected());
    ASSERT_TRUE(v6.SendHello(u"manager-1"));
    EXPECT_EQ(v6.Receive()->header.status, 0);
    WireClient v4("127.0.0.1", agent_->port());
    EXPECT_FALSE(v4.connected());  // not asked to listen there
    agent_.reset();

    StartAgent();  // the default: both families
    EXPECT_TRUE(WireClient("::1", agent_->port()).connected());
    EXPECT_TRUE(WireClient("127.0.0.1", agent_->port()).connected());

    AgentOptions named;
    named.listen = {"localhost"};
    AgentServer bad(transport_, named);
    EXPECT_EQ(bad.Start(), kNoResource);
    EXPECT_NE(bad.StartError().find("numeric address"), std::string::npos) << bad.StartError();
}

}  // namespace
}  // namespace halvorin
