#include "sim/scenario.h"

#include <gtest/gtest.h>

#include "base/clock.h"
#include "sim/attach.h"
#include "sim/built_in_scenarios.h"
#include "tests/support/sim_fixture.h"

namespace halvorin::sim {
namespace {

using test::LoadShippedScenario;

TEST(Scenario, ShippedScenariosLoad) {
    for (const char* name :
         {"jbod24.json", "jbod84-dual-path.json", "jbod12-unsupported.json", "demo.json"}) {
        Scenario s = LoadShippedScenario(name);
        EXPECT_FALSE(s.types.empty()) << name;
        EXPECT_FALSE(s.devices.empty()) << name;
    }
    Scenario dual = LoadShippedScenario("jbod84-dual-path.json");
    EXPECT_EQ(dual.devices.size(), 2u);
    EXPECT_EQ(dual.subenclosures.size(), 2u);
    EXPECT_EQ(LoadShippedScenario("jbod12-unsupported.json").subenclosures[0].model, "m410");
}

TEST(Scenario, TheBuiltInDemoAttachesItsEnclosures) {
    ScsiTransport transport;
    ManualClock clock;
    std::string error;
    auto host = AttachScenarioTexts(transport, BuiltInDemoScenarios(), clock, error);
    ASSERT_NE(host, nullptr) << error;
    EXPECT_EQ(host->Enclosures().size(), 2u);
    // Three devices: the demo's one and both paths of the 84-bay enclosure.
    EXPECT_EQ(transport.ScanAdapters().size(), 3u);

    ScsiTransport untouched;
    EXPECT_EQ(AttachScenarioTexts(untouched, {"{\"name\": 1}"}, clock, error), nullptr);
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(untouched.ScanAdapters().empty());
}

TEST(Scenario, ElementsExpandFromPatternsAndTemplates) {
    Scenario s = test::ScenarioFromJson(R"({
        "types": [{"type": "array_device_slot", "count": 3, "descriptor": "Bay %02d of 100%%",
                   "first_slot_number": 1, "empty": [2],
                   "disk": {"vendor": "V", "product": "P", "serial": "SN%04d"}},
                  {"type": 4, "descriptors": ["A", "B"], "celsius": [30, 40],
                   "thresholds": {"high_critical": 60, "low_warning": 5}}]})");
    ASSERT_EQ(s.types.size(), 2u);
    const TypeDescription& slots = s.types[0];
    ASSERT_EQ(slots.elements.size(), 3u);
    EXPECT_EQ(slots.elements[1].descriptor, "Bay 02 of 100%");
    EXPECT_EQ(slots.elements[2].slot_number, 3);
    EXPECT_FALSE(slots.elements[1].disk);
    EXPECT_EQ(slots.elements[2].disk->serial, "SN0003");
    EXPECT_EQ(s.types[1].elements[1].nominal, 40);
    EXPECT_EQ(s.types[1].thresholds.high_critical, 80);  // degrees + 20
    EXPECT_EQ(s.types[1].thresholds.low_warning, 25);
    EXPECT_EQ(s.types[1].thresholds.high_warning, 0);
}

TEST(Scenario, MistakesAreReportedWithTheirPlace) {
    const std::pair<const char*, const char*> cases[] = {
        {R"({"types": [{"type": "warp_core"}]})", "types[0]"},
        {R"({"types": [{"type": 2, "count": 2, "descriptor": "PSU %s"}]})", "%d"},
        {R"({"logical_id": "12zz"})", "logical_id"},
        {R"({"types": [{"type": 2, "count": 1}], "events": [{"at": 5, "action": "power_supply_fail", "element": 3}]})",
         "events[0]"},
        {R"({"events": [{"at": 5, "action": "explode"}]})", "explode"},
        {R"({"types": [{"type": 2, "subenclosure": 4, "count": 1}]})", "sub-enclosure 4"},
        {R"([1, 2])", "object"},
        {R"({"name": )", "parse"},
    };
    for (const auto& [json, expected] : cases) {
        std::string error;
        EXPECT_FALSE(ParseScenario(json, error)) << json;
        EXPECT_NE(error.find(expected), std::string::npos) << json << " -> " << error;
    }
    std::string error;
    EXPECT_FALSE(LoadScenario("/nonexistent/scenario.json", error));
    EXPECT_NE(error.find("cannot read"), std::string::npos);
}

// Scenario and capture files arrive with bug reports: deep nesting is refused
// before parsing (it would overflow the stack), numbers out of their field's
// range are refused rather than converted.
TEST(Scenario, HostileFilesAreRefusedWithAReason) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    const std::pair<std::string, const char*> cases[] = {
        {R"({"events": )" + deep + "}", "nested"},
        {R"({"types": [{"type": )" + deep + "}]}", "nested"},
        {R"({"kind": "recorded", "recorded": {"pages": {"01": )" + deep + "}}}", "nested"},
        {R"({"restart_seconds": 2e39})", "out of range"},
        {R"({"restart_seconds": 1.5})", "out of range"},
        {R"({"generation": -1})", "out of range"},
        {R"({"seed": "many"})", "expected a number"},
        {R"({"types": [{"type": 2, "count": 1e300}]})", "out of range"},
        {R"({"types": [{"type": 2, "subenclosure": 256, "count": 1}]})", "out of range"},
        {R"({"types": [{"type": 23, "count": 2, "empty": [1, 1e20]}]})", "out of range"},
        {R"({"faults": [{"page": 4096}]})", "out of range"},
        {R"({"types": [{"type": 4294967298, "count": 1}]})", "unknown element type"},
    };
    for (const auto& [json, expected] : cases) {
        std::string error;
        EXPECT_FALSE(ParseScenario(json, error)) << json.substr(0, 80);
        EXPECT_NE(error.find(expected), std::string::npos) << json.substr(0, 80) << " -> " << error;
    }
    // Brackets inside strings are text, not nesting.
    EXPECT_EQ(JsonNestingDepth(R"({"name": "[[[[[[\"[[["})", 64), 1u);
    std::string error;
    EXPECT_TRUE(
        ParseScenario(R"({"name": ")" + std::string(500, '[') + R"(", "seed": 7.0})", error))
        << error;
}

TEST(Scenario, EventsAreSortedByTime) {
    Scenario s = test::ScenarioFromJson(R"({
        "types": [{"type": "power_supply", "count": 2}],
        "events": [{"at": 300, "action": "power_supply_recover", "element": 2},
                   {"at": 60, "action": "power_supply_fail", "element": 2}]})");
    ASSERT_EQ(s.events.size(), 2u);
    EXPECT_EQ(s.events[0].at_seconds, 60);
    EXPECT_EQ(s.events[0].element, 1u);  // numbered from 1 in files
}

}  // namespace
}  // namespace halvorin::sim
