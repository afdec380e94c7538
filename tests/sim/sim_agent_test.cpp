// A manager-side probe over the real agent reads every page and vendor region
// of a simulated enclosure, exactly as it would of hardware.
#include <gtest/gtest.h>

#include "base/result_code.h"
#include "net/agent/agent_server.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/wire_client.h"

namespace halvorin {
namespace {

TEST(SimulatedEnclosureOverTheWire, ProbeReadsEveryPageAndVendorRegion) {
    test::SimFixture f(test::LoadShippedScenario("jbod24.json"));
    AgentOptions options;
    options.accept_claimed_names = true;  // made-up manager names
    options.port = 0;
    AgentServer agent(f.transport_, options);
    ASSERT_EQ(agent.Start(), kOk);
    agent.SetAuthorized({u"probe"});

    test::WireClient client(agent.port());
    ASSERT_TRUE(client.SendHello(u"probe"));
    ASSERT_EQ(client.Receive()->header.status, 0);
    ASSERT_TRUE(client.Send(MSG_ENUM_DEVICES, 2));
    auto list = client.Receive();
    ASSERT_TRUE(list);
    ASSERT_EQ(list->payload.size(), kSesAddrSize);
    SES_ADDR device = SES_ADDR::FromBytes(
        std::span<const uint8_t, kSesAddrSize>(list->payload.data(), kSesAddrSize));
    EXPECT_EQ(device, f.Device());

    uint32_t tag = 100;
    for (uint8_t page : {0x00, 0x01, 0x02, 0x05, 0x07, 0x0A, 0x0E}) {
        ASSERT_TRUE(client.SendScsiIn(device, {0x1C, 0x01, page, 0xFF, 0xFF}, ++tag));
        auto reply = client.Receive();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->header.status, 0) << int(page);
        ASSERT_GE(reply->payload.size(), 4u);
        EXPECT_EQ(reply->payload[0], page);
        EXPECT_EQ(reply->payload.size(), be16(&reply->payload[2]) + 4u);
    }
    for (uint8_t offset : {2, 3, 4, 6, 7, 8, 9, 10}) {
        ASSERT_TRUE(client.SendScsiIn(device, {0x3C, 0x01, 0xE9, 0, 0, offset, 0, 16, 0}, ++tag));
        auto reply = client.Receive();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->header.status, 0) << int(offset);
        ASSERT_GE(reply->payload.size(), 16u);
        EXPECT_EQ(reply->payload[0], offset);
    }
    ASSERT_TRUE(
        client.SendScsiIn(device, {0xA0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0}, ++tag));  // REPORT LUNS
    EXPECT_EQ(client.Receive()->header.status, kScsiFailed);
    agent.Stop();
}

}  // namespace
}  // namespace halvorin
