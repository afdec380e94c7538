// halvorin-agentd and halvorinctl as an operator runs them: the agent serves
// simulated enclosures, the command-line manager reads them back.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "base/host_name.h"
#include "base/utf16.h"
#include "sim/scenario.h"
#include "tests/support/fake_agent.h"
#include "tests/support/process.h"
#include "tests/support/sim_fixture.h"

namespace halvorin {
namespace {

using nlohmann::json;
using test::ChildProcess;

class Cli : public ::testing::Test {
  protected:
    // Starts the agent on a free port serving the scenarios; waits until it listens.
    void StartAgent(const std::vector<std::string>& scenarios) {
        port_ = test::FreePort();
        std::vector<std::string> argv = {HALVORIN_AGENTD, "--port", std::to_string(port_),
                                         "--allow", Utf16ToUtf8(ManagerComputerName())};
        for (const auto& s : scenarios) {
            argv.push_back("--simulate");
            argv.push_back(s);
        }
        agent_ = std::make_unique<ChildProcess>(argv);
        ASSERT_TRUE(agent_->running());
        ASSERT_TRUE(test::Eventually(
            [&] {
                ChildProcess probe({HALVORINCTL, "-H", Host(), "--timeout", "1", "show", "--json"});
                std::string out;
                probe.Wait(out);
                return out.find("\"status\"") != std::string::npos &&
                       out.find("unreachable") == std::string::npos;
            },
            std::chrono::seconds(10)));
    }
    std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }

    json Show(int* exit_code = nullptr) {
        ChildProcess ctl({HALVORINCTL, "-H", Host(), "show", "--json"});
        std::string out;
        const int code = ctl.Wait(out);
        if (exit_code) *exit_code = code;
        return json::parse(out, nullptr, false);
    }

    uint16_t port_ = 0;
    std::unique_ptr<ChildProcess> agent_;
};

const json* Group(const json& enclosure, int type, int nth = 0) {
    for (const json& g : enclosure["groups"]) {
        if (g["type"] == type && nth-- == 0) return &g;
    }
    return nullptr;
}

TEST_F(Cli, ShowJsonReproducesTheTwentyFourBayScenario) {
    StartAgent({test::ScenarioPath("jbod24.json")});
    int code = -1;
    json report = Show(&code);
    ASSERT_FALSE(report.is_discarded());
    EXPECT_EQ(code, 0);
    const json& host = report["hosts"][0];
    EXPECT_EQ(host["status"], "ready");
    ASSERT_EQ(host["enclosures"].size(), 1u);
    const json& enclosure = host["enclosures"][0];
    EXPECT_EQ(enclosure["name"], "JB2412-12G-500A0B0C0D0E0F00");
    EXPECT_EQ(enclosure["wwn"], "500A0B0C0D0E0F00");
    EXPECT_EQ(enclosure["firmware_revision"], "2.0.7");
    EXPECT_EQ(enclosure["indicators"]["buzzer"], true);

    const sim::Scenario scenario = test::LoadShippedScenario("jbod24.json");
    const json* slots = Group(enclosure, 23);
    ASSERT_NE(slots, nullptr);
    ASSERT_EQ((*slots)["elements"].size(), 24u);
    for (size_t i = 0; i < 24; ++i) {
        const json& slot = (*slots)["elements"][i];
        const auto& disk = scenario.types[0].elements[i].disk;
        EXPECT_EQ(slot["slot_number"], i) << i;
        EXPECT_EQ(slot["status"], disk ? "OK" : "not installed") << i;
        EXPECT_EQ(slot["disk"]["serial"], disk ? disk->serial : "") << i;
    }
    const json* temperatures = Group(enclosure, 4);
    ASSERT_NE(temperatures, nullptr);
    EXPECT_EQ((*temperatures)["elements"][0]["name"], "Controller0 CPU");
    EXPECT_EQ((*temperatures)["elements"][2]["thresholds"]["high_critical"], 70);
    EXPECT_EQ((*temperatures)["elements"][2]["reading"]["unit"], "C");
    const json* volts = Group(enclosure, 18);
    EXPECT_EQ((*volts)["elements"][0]["nominal"], 12.0);
    EXPECT_NEAR((*volts)["elements"][0]["reading"]["value"].get<double>(), 12.0, 0.2);
    const json* ports = Group(enclosure, 31);
    ASSERT_NE(ports, nullptr);
    EXPECT_EQ((*ports)["elements"][0]["name"], "Controller 1 Port 1");
    EXPECT_EQ((*ports)["elements"][0]["sas_address"], "5001438012345600");
    EXPECT_EQ((*ports)["elements"][0]["link_rate_gbps"], 12);
    const json* expanders = Group(enclosure, 24);
    EXPECT_EQ((*expanders)["elements"][1]["sas_address"], "500A0B0C0D0E0F7F");
    const json* zones = Group(enclosure, 29);
    EXPECT_EQ((*zones)["elements"][1]["slots"].size(), 12u);
    EXPECT_EQ((*zones)["elements"][1]["slots"][0], 13);
}

TEST_F(Cli, ShowJsonReadsBothPathsOfTheEightyFourBay) {
    StartAgent({test::ScenarioPath("jbod84-dual-path.json")});
    json report = Show();
    const json& host = report["hosts"][0];
    ASSERT_EQ(host["devices"].size(), 2u);
    ASSERT_EQ(host["enclosures"].size(), 2u);  // the primary and the secondary, once
    EXPECT_EQ(host["enclosures"][0]["name"], "LAB-JBOD-84");
    EXPECT_EQ(host["enclosures"][1]["subenclosure"], 1);
    const json* slots = Group(host["enclosures"][0], 23);
    ASSERT_EQ((*slots)["elements"].size(), 84u);
    EXPECT_EQ((*slots)["elements"][41]["status"], "not installed");
    EXPECT_EQ((*slots)["elements"][40]["disk"]["serial"], "8HG00041");
    EXPECT_EQ((*slots)["elements"][40]["slot_number"], 41);
}

TEST_F(Cli, UnreachableHostExitsWithTwo) {
    port_ = test::FreePort();
    ChildProcess ctl({HALVORINCTL, "-H", Host(), "--timeout", "3", "show"});
    std::string out;
    EXPECT_EQ(ctl.Wait(out), 2);
    ChildProcess usage({HALVORINCTL, "frobnicate"});
    EXPECT_EQ(usage.Wait(out), 1);
}

TEST_F(Cli, WatchPrintsTheEventsOfAFailingPowerSupplyInOrder) {
    // A power supply that has failed by the time the manager first looks.
    const std::string path = ::testing::TempDir() + "psu-failing.json";
    {
        std::ofstream out(path);
        out << R"({"system_name": "WATCHED", "types": [{"type": "power_supply", "count": 2}],
                   "events": [{"at": 0, "action": "power_supply_fail", "element": 2}]})";
    }
    StartAgent({path});
    ChildProcess watch({HALVORINCTL, "-H", Host(), "watch", "--json"});
    std::vector<json> events;
    while (events.size() < 2) {
        auto line = watch.ReadLine(std::chrono::seconds(10));
        ASSERT_TRUE(line) << "only " << events.size() << " events arrived";
        events.push_back(json::parse(*line));
    }
    EXPECT_EQ(events[0]["type"], "event");
    EXPECT_EQ(events[0]["source"], "WATCHED");
    EXPECT_EQ(events[0]["level"], 2);
    EXPECT_EQ(events[0]["message"], "Power supply 2 of power supply has failed.");
    EXPECT_EQ(events[1]["message"],
              "Power supply 2 of power supply is not receiving the specified A.C. power.");
    EXPECT_FALSE(watch.ReadLine(std::chrono::milliseconds(500)));
}

}  // namespace
}  // namespace halvorin
