// The whole road: simulated enclosure, agent, client, read chain, decoders,
// model. What the manager ends up with must be what the scenario describes.
#include "enclosure/model/element_types.h"
#include "enclosure/model/model_ref.h"
#include "tests/support/manager_harness.h"

namespace halvorin {
namespace {

using test::ManagerHarness;

// The elements of the first type descriptor of a type in a sub-enclosure.
std::vector<Ref<CSesElem>> ElementsOf(CSubEnc* subenc, uint8_t type) {
    uint8_t index = 0;
    if (FindTypeDescriptor(subenc->dev, subenc, type, index) != kOk) return {};
    return ElementsOfType(subenc, index);
}

std::string DataText(const CSesElem& e, size_t offset) {
    return reinterpret_cast<const char*>(&e.type_data[offset]);
}

int16_t LastReading(const CSesElem& e) {
    int16_t value = 0;
    ReadHistory(e, std::span(&value, 1), nullptr);
    return value;
}

TEST(EndToEnd, TwentyFourBayIsReadCompletely) {
    ManagerHarness h({test::LoadShippedScenario("jbod24.json")});
    ASSERT_TRUE(h.PollUntil([&] { return h.AllRead(1); }));
    auto subencs = h.Enclosures();
    ASSERT_EQ(subencs.size(), 1u);
    CSubEnc* s = subencs[0].get();
    const SubEncSummary info = SubEncInfo(s);
    EXPECT_EQ(info.vendor, "HALVRN");
    EXPECT_EQ(info.product, "JB2412-12G");
    EXPECT_EQ(info.firmware_revision, "2.0.7");
    EXPECT_EQ(info.logical_id,
              (std::array<uint8_t, 8>{0x50, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x00}));
    EXPECT_EQ(s->indicators, kIndicatorBuzzer);
    EXPECT_EQ(info.counters[kTypeArrayDeviceSlot].count, 24);
    EXPECT_EQ(info.counters[kTypeCooling].count, 4);
    EXPECT_EQ(info.counters[kTypePortEntry].count, 4);
    EXPECT_EQ(info.counters[kTypeZoneEntry].count, 4);
    EXPECT_EQ(info.counters[kTypeExpanderEntry].count, 2);

    auto slots = ElementsOf(s, kTypeArrayDeviceSlot);
    ASSERT_EQ(slots.size(), 24u);
    EXPECT_EQ(slots[0]->type_data[kSlotNumber], 0);
    EXPECT_EQ(DataText(*slots[0], kDiskVendor), "SEAGATE");
    EXPECT_EQ(DataText(*slots[0], kDiskProduct), "ST16000NM002G");
    EXPECT_EQ(DataText(*slots[0], kDiskSerial), "ZL2A0001");
    EXPECT_EQ(slots[6]->raw_status[0] & 0x0F, 5);  // slot 7 is empty
    EXPECT_EQ(slots[23]->type_data[kSlotNumber], 23);

    auto fans = ElementsOf(s, kTypeCooling);
    ASSERT_EQ(fans.size(), 4u);
    EXPECT_NEAR(LastReading(*fans[0]), 6000, 200);
    auto temperatures = ElementsOf(s, kTypeTemperature);
    EXPECT_EQ(ElementName(temperatures[0].get()), u"Controller0 CPU");
    EXPECT_NEAR(LastReading(*temperatures[2]), 26, 2);
    EXPECT_EQ(temperatures[2]->thresholds, (std::array<int16_t, 4>{70, 60, 5, 0}));
    auto volts = ElementsOf(s, kTypeVoltage);
    EXPECT_EQ(volts[0]->nominal, 1200);
    EXPECT_EQ(volts[2]->nominal, 330);  // from the nominal voltage region
    EXPECT_EQ(volts[0]->thresholds, (std::array<int16_t, 4>{1320, 1260, 1140, 1080}));
    EXPECT_NEAR(LastReading(*volts[1]), 500, 10);

    auto expanders = ElementsOf(s, kTypeSasExpander);
    ASSERT_EQ(expanders.size(), 2u);
    EXPECT_EQ(expanders[1]->type_data[0], 36);
    EXPECT_EQ(expanders[1]->type_data[8], 0x7F);
    auto ports = ElementsOf(s, kTypePortEntry);
    ASSERT_EQ(ports.size(), 4u);
    EXPECT_EQ(ElementName(ports[2].get()), u"Controller 2 Port 1");
    EXPECT_EQ(ports[1]->type_data[0], 6);
    EXPECT_EQ(ports[3]->raw_status[0], 5);
    auto zones = ElementsOf(s, kTypeZoneEntry);
    ASSERT_EQ(zones.size(), 4u);
    EXPECT_EQ(zones[0]->type_data[0], 0xFF);
    EXPECT_EQ(zones[0]->type_data[1], 0x0F);
}

TEST(EndToEnd, DualPathEnclosureAppearsOnceWithBothSubEnclosures) {
    ManagerHarness h({test::LoadShippedScenario("jbod84-dual-path.json")});
    ASSERT_TRUE(h.PollUntil([&] { return h.AllRead(2); }));
    auto subencs = h.Enclosures();
    ASSERT_EQ(subencs.size(), 2u);  // primary and secondary, under the first device
    EXPECT_EQ(subencs[0]->dev, subencs[1]->dev);
    EXPECT_EQ(subencs[0]->id, 0);
    EXPECT_EQ(subencs[1]->id, 1);
    EXPECT_EQ(SubEncInfo(subencs[0].get()).system_name, "LAB-JBOD-84");
    EXPECT_EQ(SubEncInfo(subencs[1].get()).product, "JB8460-PWR");
    auto slots = ElementsOf(subencs[0].get(), kTypeArrayDeviceSlot);
    ASSERT_EQ(slots.size(), 84u);
    // The controllers come first in this configuration: slot numbers must
    // still land on their own slots.
    EXPECT_EQ(slots[4]->type_data[kSlotNumber], 5);
    EXPECT_EQ(slots[83]->type_data[kSlotNumber], 84);
    EXPECT_EQ(DataText(*slots[83], kDiskVendor), "");  // slot 84 is empty
    EXPECT_EQ(DataText(*slots[82], kDiskSerial), "8HG00083");
    EXPECT_EQ(ElementsOf(subencs[1].get(), kTypePowerSupply).size(), 2u);
}

TEST(EndToEnd, UnsupportedModelIsNeverShownAndIsAskedForAgain) {
    ManagerHarness h({test::LoadShippedScenario("jbod12-unsupported.json")});
    // During the start-up window every device list restarts the failed chain,
    // so wait for the first failure, then let the window pass.
    ASSERT_TRUE(h.PollUntil([&] {
        std::vector<Ref<CSesDev>> devices = SnapshotDevices(h.domain());
        const bool failed = devices.size() == 1 && devices[0]->chain_error == kUnsupportedModel;
        return failed;
    }));
    h.Advance(kDeviceListWindowSeconds);
    ASSERT_TRUE(h.PollUntil([&] { return h.AllRead(1); }));
    Ref<CSesDev> device = SnapshotDevices(h.domain()).front();
    EXPECT_EQ(device->chain_error, kUnsupportedModel);
    EXPECT_FALSE(device->Flags() & kDeviceReady);
    EXPECT_EQ(h.EnclosureCount(), 0u);
    const int reads = h.enclosure().PageReads(0x01);
    h.Advance(60);  // the next device list restarts the chain
    EXPECT_GT(h.enclosure().PageReads(0x01), reads);
    EXPECT_EQ(h.EnclosureCount(), 0u);
}

}  // namespace
}  // namespace halvorin
