// The simulated enclosure over time: scheduled events, restart and shutdown,
// injected faults through the transport's real retry rules, shared state
// between two SES devices of one enclosure.
#include <gtest/gtest.h>

#include "base/result_code.h"
#include "tests/support/sim_fixture.h"

namespace halvorin {
namespace {

using test::SimFixture;

std::array<uint8_t, 4> Element(SimFixture& f, size_t type_index, size_t element) {
    auto config = f.Page(0x01);
    auto status = f.Page(0x02);
    const size_t at = test::ElementOffset(config, type_index, element);
    return {status[at], status[at + 1], status[at + 2], status[at + 3]};
}

// demo.json: slots, power supplies, fans, temperatures, voltages, ... in that order.
constexpr size_t kPowerSupplies = 1, kFans = 2, kTemperatures = 3, kSlots = 0;

TEST(SimEvents, HappenAtTheirScenarioTimes) {
    SimFixture f(test::LoadShippedScenario("demo.json"));
    f.clock_.AdvanceSeconds(89);
    EXPECT_EQ(Element(f, kPowerSupplies, 1)[3] & 0x42, 0x00);
    EXPECT_EQ(Element(f, kPowerSupplies, 1)[0] & 0x0F, 0x01);
    f.clock_.AdvanceSeconds(1);
    auto psu = Element(f, kPowerSupplies, 1);
    EXPECT_EQ(psu[3] & 0x42, 0x42);           // FAIL and AC FAIL
    EXPECT_EQ(psu[0] & 0x0F, 0x02);           // critical
    EXPECT_EQ(f.Page(0x02)[1] & 0x02, 0x02);  // page summary: CRIT

    f.clock_.AdvanceSeconds(60);  // 150 s: fan 3 stops
    auto fan = Element(f, kFans, 2);
    EXPECT_EQ(fan[3] & 0x40, 0x40);
    EXPECT_EQ(((fan[1] & 0x07) << 8) | fan[2], 0);

    f.clock_.AdvanceSeconds(50);  // 200 s: ambient at 62 degrees, over its warning
    auto ambient = Element(f, kTemperatures, 2);
    EXPECT_EQ(ambient[2], 62 + 20);
    EXPECT_EQ(ambient[3] & 0x0F, 0x04);  // OT WARNING
    f.clock_.AdvanceSeconds(60);         // 260 s: 72 degrees, over its critical threshold
    EXPECT_EQ(Element(f, kTemperatures, 2)[3] & 0x0F, 0x08);  // OT FAILURE

    f.clock_.AdvanceSeconds(30);                       // 290 s: slot 5 pulled
    EXPECT_EQ(Element(f, kSlots, 4)[0] & 0x0F, 0x05);  // not installed
    EXPECT_EQ(f.Vendor(8)[12 + 4 * 48 + 4], ' ');

    f.clock_.AdvanceSeconds(130);  // 420 s: the power supply recovers
    EXPECT_EQ(Element(f, kPowerSupplies, 1)[3] & 0x43, 0x00);
    const uint32_t generation = be32(&f.Page(0x01)[4]);
    f.clock_.AdvanceSeconds(240);  // 660 s: the configuration changes
    EXPECT_EQ(be32(&f.Page(0x01)[4]), generation + 1);
    EXPECT_EQ(be32(&f.Page(0x02)[4]), generation + 1);
}

TEST(SimEvents, HiddenTypeLeavesTheConfigurationAndComesBack) {
    SimFixture f(test::ScenarioFromJson(R"({
        "types": [{"type": "power_supply", "count": 2}, {"type": "current", "count": 1, "amps": 3}],
        "events": [{"at": 10, "action": "hide_type", "type": "current"},
                   {"at": 20, "action": "show_type", "type": "current"}]})"));
    EXPECT_EQ(f.Page(0x01)[8 + 2], 2);  // type descriptor headers
    f.clock_.AdvanceSeconds(10);
    auto config = f.Page(0x01);
    EXPECT_EQ(config[8 + 2], 1);
    EXPECT_EQ(be32(&config[4]), 2u);
    EXPECT_EQ(f.Page(0x02).size(), 8u + 3 * 4);
    f.clock_.AdvanceSeconds(10);
    EXPECT_EQ(f.Page(0x01)[8 + 2], 2);
}

TEST(SimEvents, AFanSpeedEventPinsTheSpeedUntilItIsReleased) {
    SimFixture f(test::ScenarioFromJson(R"({
        "types": [{"type": "cooling", "count": 1, "rpm": 6000}],
        "events": [{"at": 10, "action": "fan_speed", "element": 1, "rpm": 3900},
                   {"at": 20, "action": "fan_speed", "element": 1, "rpm": null}]})"));
    const auto speed = [&] {
        auto fan = Element(f, 0, 0);
        return (((fan[1] & 0x07) << 8) | fan[2]) * 10;  // units of 10 rpm
    };
    EXPECT_EQ(speed(), 6000);
    f.clock_.AdvanceSeconds(10);
    EXPECT_EQ(speed(), 3900);
    EXPECT_EQ(Element(f, 0, 0)[3] & 0x40, 0);  // slow, not failed
    f.clock_.AdvanceSeconds(10);
    EXPECT_EQ(speed(), 6000);
}

TEST(SimReadings, DriftWithTimeButRepeatForTheSameMoment) {
    SimFixture a(test::LoadShippedScenario("jbod24.json"));
    SimFixture b(test::LoadShippedScenario("jbod24.json"));
    std::set<int> seen;
    for (int minute = 0; minute < 30; ++minute) {
        auto fan_a = Element(a, kFans, 0);
        auto fan_b = Element(b, kFans, 0);
        EXPECT_EQ(fan_a, fan_b);
        const int rpm = (((fan_a[1] & 7) << 8) | fan_a[2]) * 10;
        EXPECT_NEAR(rpm, 6000, 6000 * 0.03 + 10);
        seen.insert(rpm);
        a.clock_.AdvanceSeconds(60);
        b.clock_.AdvanceSeconds(60);
    }
    EXPECT_GT(seen.size(), 5u);
}

TEST(SimLifecycle, RestartHidesTheDeviceForItsTimeAndShutdownUntilPoweredOn) {
    SimFixture f(test::LoadShippedScenario("jbod24.json"));  // restarts take 20 s
    ASSERT_GE(f.WriteVendor(0, {10, 0, 0}), 0);
    EXPECT_TRUE(f.transport_.ScanAdapters().empty());
    int result = 0;
    f.Page(0x02, &result);
    EXPECT_EQ(result, kAdapterOpenFailed);
    f.clock_.AdvanceSeconds(19);
    EXPECT_TRUE(f.transport_.ScanAdapters().empty());
    f.clock_.AdvanceSeconds(1);
    EXPECT_EQ(f.transport_.ScanAdapters().size(), 1u);

    ASSERT_GE(f.WriteVendor(0, {9, 0, 0}), 0);
    f.clock_.AdvanceSeconds(24 * 3600);
    EXPECT_TRUE(f.transport_.ScanAdapters().empty());
    f.enclosure_->PowerOn();
    EXPECT_EQ(f.transport_.ScanAdapters().size(), 1u);
}

TEST(SimDualPath, TwoDevicesShareOneEnclosure) {
    SimFixture f(test::LoadShippedScenario("jbod84-dual-path.json"));
    auto found = f.transport_.ScanAdapters();
    ASSERT_EQ(found.size(), 2u);
    EXPECT_NE(found[0].Identifier(),
              found[1].Identifier());  // the second lists a 16-byte NAA first
    EXPECT_EQ(found[1].Identifier(), f.enclosure_->scenario().devices[1].id);

    std::vector<uint8_t> name(44, 0);
    name[12] = 'X';
    ASSERT_GE(f.WriteVendor(4, name), 0);  // through the first device
    Cdb read_name{0x3C, 0x01, 0xE9, 0, 0, 4, 0, 2, 0};
    auto seen = f.In(read_name, nullptr, 1);  // read through the second
    EXPECT_EQ(seen[16], 'X');
    // Both report the same enclosure logical identifier and two sub-enclosures.
    auto config = f.In(Cdb{0x1C, 0x01, 0x01, 0xFF, 0xFF}, nullptr, 1);
    EXPECT_EQ(config[1], 1);
    EXPECT_EQ(config[8 + 4], 0x50);
}

// ---- injected faults through the retry rules --------------------------------------

SimFixture WithFault(const std::string& fault) {
    return SimFixture(test::ScenarioFromJson(
        R"({"types": [{"type": "power_supply", "count": 1}], "faults": [)" + fault + "]}"));
}

TEST(SimFaults, BusyAndUnitAttentionAreRetriedAwayUpToThirtyAttempts) {
    {
        auto f = WithFault(
            R"({"command": "receive_diagnostic", "page": 2, "answer": "busy", "times": 29})");
        int result = 0;
        f.Page(0x02, &result);
        EXPECT_GT(result, 0);
    }
    {
        auto f = WithFault(
            R"({"command": "receive_diagnostic", "answer": "unit_attention", "times": 30})");
        int result = 0;
        f.Page(0x02, &result);
        EXPECT_EQ(result, kScsiFailed);
        f.Page(0x02, &result);  // the 30 uses are spent
        EXPECT_GT(result, 0);
    }
}

TEST(SimFaults, CheckConditionFailsAtOnceAndOtherPagesAreUntouched) {
    auto f = WithFault(R"({"command": "read_buffer", "page": 8, "answer": "check_condition"})");
    int result = 0;
    f.Vendor(8, 4096, &result);
    EXPECT_EQ(result, kScsiFailed);
    f.Vendor(7, 2048, &result);
    EXPECT_GT(result, 0);
}

TEST(SimFaults, SilentDeviceTimesOutAndASlowOneAnswersLate) {
    auto f = WithFault(
        R"({"command": "receive_diagnostic", "page": 1, "answer": "no_answer", "times": 1},
                          {"command": "receive_diagnostic", "page": 2, "answer": "slow", "delay_ms": 150})");
    int result = 0;
    const auto start = std::chrono::steady_clock::now();
    f.In(Cdb{0x1C, 0x01, 0x01, 0xFF, 0xFF}, &result, 0, /*timeout_s=*/1);
    EXPECT_EQ(result, kTimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(950));
    const auto slow_start = std::chrono::steady_clock::now();
    f.Page(0x02, &result);
    EXPECT_GT(result, 0);
    EXPECT_GE(std::chrono::steady_clock::now() - slow_start, std::chrono::milliseconds(140));
}

TEST(SimFaults, FaultsStartAtTheirTime) {
    auto f = WithFault(R"({"answer": "check_condition", "from": 60})");
    int result = 0;
    f.Page(0x02, &result);
    EXPECT_GT(result, 0);
    f.clock_.AdvanceSeconds(60);
    f.Page(0x02, &result);
    EXPECT_EQ(result, kScsiFailed);
}

}  // namespace
}  // namespace halvorin
