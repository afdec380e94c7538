// Status changes of a scenario become exactly the expected events, in order.
#include "enclosure/model/element_types.h"
#include "enclosure/pages/status_element.h"
#include "enclosure/poll/event_rule.h"
#include "enclosure/poll/status_event.h"
#include "tests/support/manager_harness.h"

namespace halvorin {
namespace {

struct EventLog {
    static void Record(CSesElem* element, uint32_t bit, void* context) {
        auto* self = static_cast<EventLog*>(context);
        if (auto event = DescribeStatusEvent(element, bit)) self->events.push_back(*event);
    }
    std::vector<StatusEvent> events;
    std::vector<std::u16string> Texts(size_t from = 0) const {
        std::vector<std::u16string> texts;
        for (size_t i = from; i < events.size(); ++i)
            texts.push_back(events[i].text);
        return texts;
    }
};

class ScenarioEvents : public ::testing::Test {
  protected:
    void SetUp() override { SetStatusEventHook(&EventLog::Record, &log_); }
    void TearDown() override { SetStatusEventHook(nullptr, nullptr); }
    EventLog log_;
};

// The demo's SAS connectors report their physical link as 0xFF (all phys);
// only the one whose FAIL bit is set counts as failed.
TEST_F(ScenarioEvents, DemoSasConnectorsReadThroughTheAgent) {
    test::ManagerHarness h({test::LoadShippedScenario("demo.json")});
    ASSERT_TRUE(h.PollUntil([&] { return h.AllRead(1); }));
    auto subencs = h.Enclosures();
    ASSERT_EQ(subencs.size(), 1u);
    CSubEnc* subenc = subencs[0].get();
    uint8_t tdi = kNoTypeDescriptor;
    ASSERT_EQ(FindTypeDescriptor(subenc->dev, subenc, kTypeSasConnector, tdi), kOk);
    std::vector<Ref<CSesElem>> connectors = ElementsOfType(subenc, tdi);
    ASSERT_EQ(connectors.size(), 4u);
    for (size_t i = 0; i < connectors.size(); ++i) {
        EXPECT_EQ(connectors[i]->raw_status[2], 0xFF) << i;
        EXPECT_EQ((connectors[i]->state & kStateFailed) != 0, i == 3) << i;
    }
    EXPECT_EQ(SubEncInfo(subenc).counters[kTypeSasConnector].failed, 1);
}

TEST_F(ScenarioEvents, DemoEnclosureReportsItsBadQuarterOfAnHour) {
    test::ManagerHarness h({test::LoadShippedScenario("demo.json")});
    ASSERT_TRUE(h.PollUntil([&] { return h.AllRead(1); }));
    EXPECT_TRUE(log_.events.empty()) << "a healthy enclosure raises nothing";

    h.Advance(60);
    EXPECT_TRUE(log_.events.empty());
    h.Advance(60);  // 120 s: power supply 2 failed at 90 s
    ASSERT_EQ(log_.events.size(), 2u);
    EXPECT_EQ(log_.Texts(),
              (std::vector<std::u16string>{
                  u"Power supply 2 of power supply has failed.",
                  u"Power supply 2 of power supply is not receiving the specified A.C. power."}));
    EXPECT_EQ(log_.events[0].level, kEventError);
    EXPECT_EQ(log_.events[1].level, kEventError);
    EXPECT_EQ(log_.events[0].source, u"DEMO-JBOD");
    auto subencs = h.Enclosures();
    EXPECT_EQ(SubEncInfo(subencs[0].get()).counters[kTypePowerSupply].failed, 1);

    h.Advance(60);  // 180 s: fan 3 stopped at 150 s
    EXPECT_EQ(log_.Texts(2),
              (std::vector<std::u16string>{u"Cooling device 3 of cooling device has failed."}));
    h.Advance(60);  // 240 s: ambient at 62 degrees (warning from 60)
    EXPECT_EQ(log_.Texts(3),
              (std::vector<std::u16string>{
                  u"Ambient of temperature sensor is above high warning threshold."}));
    EXPECT_EQ(log_.events[3].level, kEventWarning);
    h.Advance(60);  // 300 s: 72 degrees, critical from 70; slot 5 pulled at 290 s
    EXPECT_EQ(log_.Texts(4),
              (std::vector<std::u16string>{
                  u"Ambient of temperature sensor is above high critical threshold."}));
    const size_t before_recovery = log_.events.size();
    for (int minute = 0; minute < 6; ++minute)
        h.Advance(60);  // recovery raises nothing
    EXPECT_EQ(log_.events.size(), before_recovery);
    EXPECT_EQ(SubEncInfo(subencs[0].get()).counters[kTypePowerSupply].failed, 0);
    EXPECT_EQ(SubEncInfo(subencs[0].get()).counters[kTypeCooling].failed, 0);
}

TEST_F(ScenarioEvents, OverVoltageIsReportedAsOverVoltage) {
    // A power supply reporting DC OVER-VOLTAGE from the start.
    sim::Scenario scenario = test::ScenarioFromJson(R"({
        "system_name": "PSU-TEST", "types": [{"type": "power_supply", "count": 1}]})");
    test::ManagerHarness h({scenario});
    ASSERT_TRUE(h.PollUntil([&] { return h.AllRead(1); }));
    auto subencs = h.Enclosures();
    ASSERT_EQ(subencs.size(), 1u);
    CSesElem* psu = AcquireElem(subencs[0].get(), 0, 0);
    ApplyStatusElement(psu, {0x03, 0x00, 0x08, 0x00}, StatusUse::kStateOnly);  // byte 2 bit 3
    ApplyStatusElement(psu, {0x03, 0x00, 0x0C, 0x00}, StatusUse::kStateOnly);  // and under-voltage
    ASSERT_EQ(log_.events.size(), 2u);
    EXPECT_EQ(
        log_.events[0].text,
        u"An overvoltage condition has been detected at power supply 1 output of power supply.");
    EXPECT_EQ(
        log_.events[1].text,
        u"An undervoltage condition has been detected at power supply 1 output of power supply.");
    ReleaseElem(psu);
}

TEST(EventRules, TableRowsAndBitsWithoutRows) {
    EXPECT_EQ(FindEventRule(kStateFailed)->message_id, 20007);
    EXPECT_EQ(FindEventRule(kStateOverVoltage)->message_id, 20014);
    EXPECT_EQ(FindEventRule(kStateUnderVoltage)->message_id, 20015);
    EXPECT_EQ(FindEventRule(kStateHotSpare)->level, kEventInformation);
    for (uint32_t silent : {kStateConsistencyCheck, kStateRebuildRemap, kStateDeviceOff, kStateOk,
                            kStateIdentifyOn}) {
        EXPECT_FALSE(FindEventRule(silent)) << silent;
    }
    EXPECT_EQ(EventRules().size(), 17u);
}

}  // namespace
}  // namespace halvorin
