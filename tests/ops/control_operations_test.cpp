// Control operations end to end: through the client and the agent to the
// simulated enclosure, and read back into the model.
#include "enclosure/ops/control_operations.h"

#include "enclosure/model/element_types.h"
#include "enclosure/model/model_ref.h"
#include "enclosure/pages/cdb.h"
#include "tests/support/manager_harness.h"

namespace halvorin {
namespace {

class ControlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(h_.PollUntil([&] { return h_.AllRead(1); }));
        auto all = h_.Enclosures();
        ASSERT_EQ(all.size(), 1u);
        subenc_ = all[0];
    }

    // Runs an operation to its callback and lets the re-reads finish.
    int Run(const std::function<int(OperationCallback)>& start) {
        bool done = false;
        int result = 0;
        const int sent = start([&](int r) {
            result = r;
            done = true;
        });
        if (sent < 0) return sent;
        EXPECT_TRUE(h_.PollUntil([&] { return done; }));
        EXPECT_TRUE(h_.PollUntil([&] { return h_.domain()->client.quiet(); }));
        return result;
    }

    Ref<CSesElem> Slot(uint8_t index) {
        return Ref<CSesElem>::Adopt(AcquireElem(subenc_.get(), 0, index));
    }

    test::ManagerHarness h_{{test::LoadShippedScenario("jbod24.json")}};
    Ref<CSubEnc> subenc_;
};

TEST_F(ControlTest, IdentifyTwoSlotsInOnePageAndSeeTheirIdentBits) {
    Slot(2)->pending_request = kRequestIdentifyOn;
    Slot(5)->pending_request = kRequestIdentifyOn;
    ASSERT_EQ(Run([&](OperationCallback cb) {
                  return SendEnclosureControl(subenc_->dev, std::move(cb));
              }),
              kOk);
    EXPECT_TRUE(Slot(2)->state & kStateIdentifyOn);
    EXPECT_TRUE(Slot(5)->state & kStateIdentifyOn);
    EXPECT_FALSE(Slot(3)->state & kStateIdentifyOn);
    EXPECT_EQ(Slot(2)->pending_request, 0);
    Slot(2)->pending_request = kRequestIdentifyOff;
    ASSERT_EQ(Run([&](OperationCallback cb) {
                  return SendEnclosureControl(subenc_->dev, std::move(cb));
              }),
              kOk);
    EXPECT_FALSE(Slot(2)->state & kStateIdentifyOn);
    EXPECT_TRUE(Slot(5)->state & kStateIdentifyOn);
    EXPECT_TRUE(h_.enclosure().Snapshot().types[0].elements[5].ident);
}

TEST_F(ControlTest, MuteAndUidLedAreReadBack) {
    EXPECT_EQ(subenc_->indicators & kIndicatorBuzzer, kIndicatorBuzzer);
    ASSERT_EQ(Run([&](OperationCallback cb) { return MuteBuzzer(subenc_.get(), std::move(cb)); }),
              kOk);
    EXPECT_EQ(subenc_->indicators & kIndicatorBuzzer, 0);
    ASSERT_EQ(
        Run([&](OperationCallback cb) { return SetUidLed(subenc_.get(), true, std::move(cb)); }),
        kOk);
    EXPECT_EQ(subenc_->indicators & kIndicatorUidLed, kIndicatorUidLed);
    EXPECT_TRUE(h_.enclosure().Snapshot().uid_led);
}

// Both front ends show an accepted write at once: the model has it when the
// callback runs, before the read-back has been answered.
TEST_F(ControlTest, AnAcceptedWriteIsInTheModelWhenItsCallbackRuns) {
    CSubEnc* s = subenc_.get();
    const struct {
        const char* what;
        std::function<int(OperationCallback)> start;
        std::function<bool()> shown;
    } cases[] = {
        {"mute", [&](OperationCallback cb) { return MuteBuzzer(s, std::move(cb)); },
         [&] { return !(SubEncInfo(s).indicators & kIndicatorBuzzer); }},
        {"UID LED on", [&](OperationCallback cb) { return SetUidLed(s, true, std::move(cb)); },
         [&] { return SubEncInfo(s).indicators & kIndicatorUidLed; }},
        {"UID LED off", [&](OperationCallback cb) { return SetUidLed(s, false, std::move(cb)); },
         [&] { return !(SubEncInfo(s).indicators & kIndicatorUidLed); }},
        {"rename",
         [&](OperationCallback cb) {
             return SetSystemName(s, std::string(40, 'n'), std::move(cb));
         },
         [&] { return SubEncInfo(s).system_name == std::string(32, 'n'); }},
    };
    for (const auto& c : cases) {
        bool shown_in_callback = false;
        ASSERT_EQ(Run([&](OperationCallback done) {
                      return c.start([&, done](int result) {
                          shown_in_callback = c.shown();
                          done(result);
                      });
                  }),
                  kOk)
            << c.what;
        EXPECT_TRUE(shown_in_callback) << c.what;
    }
}

TEST_F(ControlTest, RenameIsSentAndReadBack) {
    ASSERT_EQ(Run([&](OperationCallback cb) {
                  return SetSystemName(subenc_.get(), "RACK7-SHELF2", std::move(cb));
              }),
              kOk);
    EXPECT_EQ(SubEncInfo(subenc_.get()).system_name, "RACK7-SHELF2");
    EXPECT_EQ(h_.enclosure().Snapshot().system_name, "RACK7-SHELF2");
    EXPECT_EQ(SetSystemName(subenc_.get(), "", nullptr), kGeneralFailure);
}

TEST(SystemName, ThirtyOneCharactersKeepTheirTerminatorFortyAreCut) {
    const std::string thirty_one(31, 'a'), forty(40, 'b');
    auto short_payload = SystemNamePayload(thirty_one);
    ASSERT_EQ(short_payload.size(), 36u);
    EXPECT_EQ(std::vector<uint8_t>(short_payload.begin(), short_payload.begin() + 4),
              std::vector<uint8_t>(4, 0));
    EXPECT_EQ(short_payload[4 + 30], 'a');
    EXPECT_EQ(short_payload[4 + 31], 0);
    auto long_payload = SystemNamePayload(forty);
    EXPECT_EQ(long_payload.size(), 36u);
    EXPECT_EQ(long_payload[4 + 31], 'b');  // the first 32 bytes, no terminator

    // A character that would cross byte 32 is left out whole.
    const std::string crossing = std::string(30, 'c') + "\xE6\xA9\x9F";  // 30 + 3 bytes
    auto cut = SystemNamePayload(crossing);
    EXPECT_EQ(std::string(cut.begin() + 4, cut.begin() + 4 + 31), std::string(30, 'c') + '\0');
    const std::string fits = std::string(29, 'c') + "\xE6\xA9\x9F";  // exactly 32 bytes
    auto whole = SystemNamePayload(fits);
    EXPECT_EQ(std::string(whole.begin() + 4, whole.end()), fits);
}

Ref<CSesElem> ZoneEntry(CSubEnc* subenc, uint8_t entry) {
    uint8_t zones = kNoTypeDescriptor;
    if (FindTypeDescriptor(subenc->dev, subenc, kTypeZoneEntry, zones) != kOk) return {};
    return Ref<CSesElem>::Adopt(AcquireElem(subenc, zones, entry));
}

TEST_F(ControlTest, ZoningEditsReachTheEnclosureAndThenTheModel) {
    Ref<CSesElem> port2 = ZoneEntry(subenc_.get(), 1);
    ASSERT_TRUE(port2);
    ASSERT_EQ(port2->type, kTypeZoneEntry);
    const auto port1_before = h_.enclosure().Snapshot().zones[0];
    ZoneSlots slots;
    slots.set(0).set(7).set(79);  // slots 1, 8 and 80
    ASSERT_EQ(Run([&](OperationCallback cb) {
                  return ApplyZoning(subenc_.get(), {{1, slots}}, std::move(cb));
              }),
              kOk);
    const auto table = h_.enclosure().Snapshot().zones;
    EXPECT_EQ(table[1][0], 0x81);
    EXPECT_EQ(table[1][9], 0x80);
    EXPECT_EQ(table[0], port1_before);  // an entry without an edit is sent as read
    EXPECT_EQ(port2->type_data[0], 0x81);
    EXPECT_EQ(port2->type_data[9], 0x80);
    port2->type_data[0] = 0;  // the refresh brings the enclosure's table back
    h_.Advance(60);
    EXPECT_EQ(port2->type_data[0], 0x81);
}

TEST_F(ControlTest, ZoningEditOfAnEntryThatIsNotThereSendsNothing) {
    bool called = false;
    EXPECT_EQ(ApplyZoning(subenc_.get(), {{200, ZoneSlots().set(0)}}, [&](int) { called = true; }),
              kGeneralFailure);
    EXPECT_EQ(h_.domain()->client.pending_requests(), 0u);
    EXPECT_FALSE(called);
}

TEST(Zoning, EnclosureWithoutZoneEntriesSendsNothing) {
    test::ManagerHarness h(
        {test::ScenarioFromJson(R"({"types": [{"type": "power_supply", "count": 1}]})")});
    ASSERT_TRUE(h.PollUntil([&] { return h.AllRead(1); }));
    auto all = h.Enclosures();
    bool called = false;
    EXPECT_EQ(ApplyZoning(all[0].get(), {}, [&](int) { called = true; }), kGeneralFailure);
    EXPECT_EQ(h.domain()->client.pending_requests(), 0u);
    h.PollUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_FALSE(called);
}

TEST_F(ControlTest, RestartedEnclosureVanishesAndComesBack) {
    ASSERT_EQ(Run([&](OperationCallback cb) {
                  return SendEnclosureCommand(subenc_.get(), kRestartCommand, std::move(cb));
              }),
              kOk);
    EXPECT_FALSE(h_.enclosure().Visible());
    h_.clock().AdvanceSeconds(20);
    EXPECT_TRUE(h_.enclosure().Visible());
}

TEST_F(ControlTest, RefusalReturnsAtOnceWithoutACallback) {
    h_.domain()->client.Stop();
    bool called = false;
    EXPECT_EQ(MuteBuzzer(subenc_.get(), [&](int) { called = true; }), kClosing);
    EXPECT_FALSE(called);
}

// The 24-bay enclosure answering every command of `opcode` for `page` (a
// diagnostic page or vendor buffer offset) with CHECK CONDITION.
sim::Scenario RefusingEveryWrite(uint8_t opcode, uint8_t page) {
    sim::Scenario scenario = test::LoadShippedScenario("jbod24.json");
    sim::FaultDescription refuse;
    refuse.opcode = opcode;
    refuse.page = page;
    refuse.answer = sim::FaultAnswer::kCheckCondition;
    scenario.faults.push_back(refuse);
    return scenario;
}

TEST(ControlFailure, FailedControlWriteCallsBackOnceAndStillReadsTheStatusBack) {
    test::ManagerHarness h({RefusingEveryWrite(0x1D, 0x02)});  // SEND DIAGNOSTIC, page 2
    ASSERT_TRUE(h.PollUntil([&] { return h.AllRead(1); }));
    auto all = h.Enclosures();
    Ref<CSesElem> slot = Ref<CSesElem>::Adopt(AcquireElem(all[0].get(), 0, 1));
    slot->pending_request = kRequestIdentifyOn;
    const int reads = h.enclosure().PageReads(0x02);
    int calls = 0, result = 0;
    ASSERT_EQ(SendEnclosureControl(all[0]->dev,
                                   [&](int r) {
                                       ++calls;
                                       result = r;
                                   }),
              kOk);
    ASSERT_TRUE(h.PollUntil([&] { return calls > 0 && h.domain()->client.quiet(); }));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(result, kScsiFailed);
    EXPECT_GT(h.enclosure().PageReads(0x02), reads);
    EXPECT_FALSE(slot->state & kStateIdentifyOn);
    slot.reset();
}

// The model's bit follows at once, not only after the status page is read back.
TEST_F(ControlTest, SlotIdentifyLedSwitchesAndItsBitFollowsWhenTheEnclosureTakesIt) {
    Ref<CSesElem> slot = Slot(3);
    bool lit_when_called = false;
    ASSERT_EQ(SetSlotIdentify(slot.get(), true,
                              [&](int result) {
                                  EXPECT_GE(result, 0);
                                  lit_when_called = slot->state & kStateIdentifyOn;
                              }),
              kOk);
    ASSERT_TRUE(h_.PollUntil([&] { return h_.domain()->client.quiet(); }));
    EXPECT_TRUE(lit_when_called);
    EXPECT_TRUE(Slot(3)->state & kStateIdentifyOn);
    EXPECT_FALSE(Slot(2)->state & kStateIdentifyOn);
    ASSERT_EQ(Run([&](OperationCallback cb) {
                  return SetSlotIdentify(slot.get(), false, std::move(cb));
              }),
              kOk);
    EXPECT_FALSE(slot->state & kStateIdentifyOn);
    EXPECT_EQ(slot->pending_request, 0);
}

TEST(ControlFailure, RefusedSlotIdentifyLeavesTheBitAsItWas) {
    test::ManagerHarness h({RefusingEveryWrite(0x1D, 0x02)});  // SEND DIAGNOSTIC, page 2
    ASSERT_TRUE(h.PollUntil([&] { return h.AllRead(1); }));
    Ref<CSesElem> slot = Ref<CSesElem>::Adopt(AcquireElem(h.Enclosures().front().get(), 0, 4));
    int result = 0;
    bool called = false;
    ASSERT_EQ(SetSlotIdentify(slot.get(), true,
                              [&](int r) {
                                  result = r;
                                  called = true;
                                  EXPECT_FALSE(slot->state & kStateIdentifyOn);
                              }),
              kOk);
    ASSERT_TRUE(h.PollUntil([&] { return called && h.domain()->client.quiet(); }));
    EXPECT_EQ(result, kScsiFailed);
    EXPECT_FALSE(slot->state & kStateIdentifyOn);
}

TEST(ControlFailure, RefusedZoningTableLeavesTheModelAsItWas) {
    test::ManagerHarness h({RefusingEveryWrite(0x3B, kVendorZones)});  // WRITE BUFFER
    ASSERT_TRUE(h.PollUntil([&] { return h.AllRead(1); }));
    Ref<CSubEnc> subenc = h.Enclosures().front();
    Ref<CSesElem> port1 = ZoneEntry(subenc.get(), 0);
    ASSERT_TRUE(port1);
    const auto before = port1->type_data;
    int result = 0;
    bool called = false;
    ASSERT_EQ(ApplyZoning(subenc.get(), {{0, ZoneSlots().set()}},
                          [&](int r) {
                              result = r;
                              called = true;
                          }),
              kOk);
    ASSERT_TRUE(h.PollUntil([&] { return called && h.domain()->client.quiet(); }));
    EXPECT_EQ(result, kScsiFailed);
    EXPECT_EQ(port1->type_data, before);
}

}  // namespace
}  // namespace halvorin
