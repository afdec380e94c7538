// Devices coming and going, configurations changing, and the minute rhythm.
#include "enclosure/model/element_types.h"
#include "enclosure/model/model_ref.h"
#include "enclosure/poll/device_list.h"
#include "tests/support/manager_harness.h"
#include "tests/support/model_fixture.h"

namespace halvorin {
namespace {

using test::ManagerHarness;

size_t DeviceCount(CSesDomain* domain) {
    auto devices = SnapshotDevices(domain);
    const size_t n = devices.size();
    return n;
}

// A device list whose length is not a whole number of records: the whole
// records count, the broken tail is ignored, and nothing is removed on its word.
TEST(Lifecycle, PartialDeviceListRecordsAreIgnoredAndRemoveNothing) {
    DomainRegistry registry(test::OfflineOptions());
    CSesDomain* domain = registry.Acquire(u"offline-host");
    std::vector<uint8_t> records;
    for (uint8_t id : {1, 2, 3}) {
        const SES_ADDR address = test::DeviceAddress(id);
        records.insert(records.end(), address.bytes.begin(), address.bytes.end());
    }
    const std::span<const uint8_t> all(records);
    const auto reconcile = [&](size_t bytes) {
        ReconcileDevices(domain, DecodeDeviceList(all.first(bytes)));
    };
    reconcile(kSesAddrSize + 40);  // device 1 and a piece of 2
    EXPECT_EQ(DeviceCount(domain), 1u);
    reconcile(all.size());
    EXPECT_EQ(DeviceCount(domain), 3u);
    reconcile(kSesAddrSize - 1);
    EXPECT_EQ(DeviceCount(domain), 3u);
    reconcile(kSesAddrSize);  // a whole list naming device 1 only
    EXPECT_EQ(DeviceCount(domain), 1u);
    registry.Release(domain);
}

TEST(Lifecycle, DeviceListIsAskedAgainAndAgainDuringTheFirstFiveSeconds) {
    ManagerHarness h({test::LoadShippedScenario("jbod24.json")});
    ASSERT_TRUE(h.PollUntil([&] { return h.AllRead(1); }));
    ASSERT_TRUE(h.PollUntil([&] { return h.domain()->device_list_replies >= 4; }));
    h.Advance(6);  // the window is over
    const int replies = h.domain()->device_list_replies;
    h.PollUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_LE(h.domain()->device_list_replies, replies + 1);
    h.Advance(54);  // the minute: asked again with the refresh
    EXPECT_GT(h.domain()->device_list_replies, replies);
}

TEST(Lifecycle, ReadingsAreSampledOncePerMinute) {
    ManagerHarness h({test::LoadShippedScenario("jbod24.json")});
    ASSERT_TRUE(h.PollUntil([&] { return h.AllRead(1); }));
    auto subencs = h.Enclosures();
    Ref<CSesElem> fan = Ref<CSesElem>::Adopt(AcquireElem(subencs[0].get(), 2, 0));
    ASSERT_TRUE(fan);
    EXPECT_EQ(fan->update_count, 1);
    h.Advance(30);
    EXPECT_EQ(fan->update_count, 1);
    h.Advance(30);
    EXPECT_EQ(fan->update_count, 2);
    for (int i = 0; i < 5; ++i)
        h.Advance(60);
    EXPECT_EQ(fan->update_count, 7);
    EXPECT_EQ(fan->history->fill(), 7u);
    fan.reset();
}

TEST(Lifecycle, ShutDownEnclosureIsRemovedByTheNextEmptyDeviceList) {
    ManagerHarness h({test::LoadShippedScenario("jbod24.json")});
    ASSERT_TRUE(h.PollUntil([&] { return h.AllRead(1); }));
    auto subencs = h.Enclosures();
    CSubEnc* held = subencs[0].get();  // a view still holds it
    // Past the device-list window after connecting: no device list is on
    // its way any more that could predate the shutdown.
    h.Advance(6);
    std::vector<uint8_t> shutdown = {9, 0, 0};
    ASSERT_TRUE(h.enclosure().WriteVendorBuffer(0, shutdown));
    h.Advance(60);
    EXPECT_EQ(DeviceCount(h.domain()), 0u);
    EXPECT_EQ(h.EnclosureCount(), 0u);
    EXPECT_TRUE(held->dev->IsRemoved());
    subencs.clear();  // the last reference: everything goes now
    h.enclosure().PowerOn();
    h.Advance(60);
    ASSERT_TRUE(h.PollUntil([&] { return h.AllRead(1); }));
    EXPECT_EQ(h.EnclosureCount(), 1u);
}

TEST(Lifecycle, ConfigurationChangeSeenByTheRefreshRebuildsTheModel) {
    sim::Scenario scenario = test::LoadShippedScenario("jbod24.json");
    sim::EventSpec hide;
    hide.at_seconds = 70;
    hide.action = sim::EventAction::kHideType;
    hide.type = sim::kCurrentSensor;
    scenario.events.push_back(hide);
    ManagerHarness h({scenario});
    ASSERT_TRUE(h.PollUntil([&] { return h.AllRead(1); }));
    auto subencs = h.Enclosures();
    EXPECT_EQ(SubEncInfo(subencs[0].get()).counters[kTypeCurrent].count, 1);
    const int configuration_reads = h.enclosure().PageReads(0x01);
    h.Advance(60);
    h.Advance(60);  // 120 s: the status page shows a new generation code
    EXPECT_GT(h.enclosure().PageReads(0x01), configuration_reads);
    EXPECT_EQ(SubEncInfo(subencs[0].get()).counters[kTypeCurrent].count, 0);
    EXPECT_EQ(SubEncInfo(subencs[0].get()).counters[kTypeCooling].count, 4);
    Ref<CSesDev> device = SnapshotDevices(h.domain()).front();
    EXPECT_EQ(device->type_desc_count, 7);
}

TEST(Lifecycle, RestartedEnclosureVanishesAndComesBackReady) {
    ManagerHarness h({test::LoadShippedScenario("jbod24.json")});  // restarts take 20 s
    ASSERT_TRUE(h.PollUntil([&] { return h.AllRead(1); }));
    std::vector<uint8_t> restart = {10, 0, 0};
    ASSERT_TRUE(h.enclosure().WriteVendorBuffer(0, restart));
    h.Advance(60);
    EXPECT_EQ(DeviceCount(h.domain()), 1u);  // back already when the list was asked
    ASSERT_TRUE(h.PollUntil([&] { return h.AllRead(1); }));
}

}  // namespace
}  // namespace halvorin
