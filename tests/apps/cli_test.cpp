// halvorin-agentd and halvorinctl as an operator runs them: the agent serves
// simulated enclosures, the command-line manager reads them back.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "sim/scenario.h"
#include "tests/apps/cli_fixture.h"
#include "tests/support/sim_fixture.h"

namespace halvorin {
namespace {

using nlohmann::json;
using test::ChildProcess;
using test::Cli;
using test::Group;
using test::RunProgram;
using test::SchemaViolation;
using test::WriteBytes;

TEST_F(Cli, ShowJsonReproducesTheTwentyFourBayScenario) {
    StartAgent({test::ScenarioPath("jbod24.json")});
    int code = -1;
    json report = Show(&code);
    ASSERT_FALSE(report.is_discarded());
    EXPECT_EQ(code, 0);
    EXPECT_EQ(report["format_version"], 1);
    EXPECT_GT(report["epoch"].get<int64_t>(), 0);
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
    EXPECT_EQ((*temperatures)["elements"][2]["thresholds"]["low_critical"], 0);  // 0 °C, given
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

TEST_F(Cli, ShowAndWatchJsonFollowTheirPublishedSchemas) {
    StartAgent({test::ScenarioPath("jbod84-dual-path.json"), test::ScenarioPath("jbod24.json")});
    const json report = Show();
    EXPECT_EQ(SchemaViolation(report, "show.schema.json"), "");
    json broken = report;
    broken["hosts"][0]["enclosures"][0]["wwn"] = "not a wwn";
    EXPECT_NE(SchemaViolation(broken, "show.schema.json"), "");

    ChildProcess watch({HALVORINCTL, "-H", Host(), "watch", "--json", "--readings"});
    for (int i = 0; i < 20; ++i) {
        auto line = watch.ReadLine(std::chrono::seconds(10));
        ASSERT_TRUE(line);
        EXPECT_EQ(SchemaViolation(json::parse(*line), "watch.schema.json"), "") << *line;
    }
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

// A refused connection fails after one try, with the system's reason;
// --wait keeps trying until the timeout, and an agent that comes up
// meanwhile is read.
TEST_F(Cli, ARefusedHostFailsAtOnceUnlessTheCommandWaitsForIt) {
    port_ = test::FreePort();
    const auto started = std::chrono::steady_clock::now();
    ChildProcess ctl({HALVORINCTL, "-H", Host(), "--timeout=30", "show"}, {.with_errors = true});
    std::string out;
    EXPECT_EQ(ctl.Wait(out), 2);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_NE(out.find("unreachable: Connection refused"), std::string::npos) << out;

    ChildProcess late({HALVORINCTL, "-H", Host(), "--timeout", "30", "--wait", "show", "--json"});
    std::this_thread::sleep_for(std::chrono::seconds(3));
    LaunchAgent({test::ScenarioPath("jbod24.json")});
    EXPECT_EQ(late.Wait(out), 0) << out;
    EXPECT_EQ(json::parse(out)["hosts"][0]["status"], "ready");
}

// A host whose every device fails to read has nothing to show: exit 2 with
// the devices' errors.
TEST_F(Cli, ShowFailsWhenNoDeviceCouldBeRead) {
    StartAgent({test::ScenarioPath("jbod12-unsupported.json")});
    int code = -1;
    const json report = Show(&code);
    EXPECT_EQ(code, 2);
    EXPECT_EQ(report["hosts"][0]["status"], "unreadable");
    EXPECT_NE(report["hosts"][0]["detail"].get<std::string>().find("unsupported model"),
              std::string::npos);
}

// SIGINT and SIGTERM end a command at any point, with a message and status
// 128 + the signal; the watch says when its host goes away and comes back.
TEST_F(Cli, WatchReportsTheHostLostAndBackAndEndsOnASignal) {
    StartAgent({test::ScenarioPath("jbod24.json")});
    const std::set<std::string> probes = ServedManagers();
    ChildProcess watch({HALVORINCTL, "-H", Host(), "watch", "--json"});
    ASSERT_TRUE(WaitUntilServing(1, probes));
    agent_.reset();  // SIGTERM: the agent goes away
    auto lost = watch.ReadLine(std::chrono::seconds(5));
    ASSERT_TRUE(lost);
    const json line = json::parse(*lost);
    EXPECT_EQ(line["format_version"], 1);
    EXPECT_TRUE(std::regex_match(line["time"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")))
        << line["time"];  // RFC 3339, UTC
    EXPECT_EQ(line["type"], "host");
    EXPECT_EQ(line["state"], "lost");
    EXPECT_EQ(line["level"], 2);
    EXPECT_FALSE(line["reason"].get<std::string>().empty());
    // Back on the same port only after the client's next attempt (2 s after
    // the loss) has failed too: it is found within seconds all the same.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    LaunchAgent({test::ScenarioPath("jbod24.json")});
    const auto relaunched = std::chrono::steady_clock::now();
    auto back = watch.ReadLine(std::chrono::seconds(10));
    ASSERT_TRUE(back);
    EXPECT_LT(std::chrono::steady_clock::now() - relaunched, std::chrono::seconds(5));
    EXPECT_EQ(json::parse(*back)["state"], "back");
    watch.Signal(SIGINT);
    std::string out;
    EXPECT_EQ(watch.Wait(out, std::chrono::seconds(5)), 130);

    ChildProcess show({HALVORINCTL, "-H", "127.0.0.1:" + std::to_string(test::FreePort()),
                       "--timeout", "60", "--wait", "show"});
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    show.Signal(SIGTERM);
    EXPECT_EQ(show.Wait(out, std::chrono::seconds(5)), 143);
}

TEST_F(Cli, WatchPrintsTheEventsOfAFailingPowerSupplyInOrder) {
    // A power supply that has failed by the time the manager first looks.
    const std::string path = test::UniqueTempPath("psu-failing.json");
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
    // What a script acts on, without parsing the message.
    EXPECT_EQ(events[0]["host"], Host());
    EXPECT_EQ(events[0]["element_type"], 2);
    EXPECT_EQ(events[0]["element_index"], 1);
    EXPECT_EQ(events[0]["condition"], "failed");
    EXPECT_EQ(events[1]["condition"], "ac_failure");
    EXPECT_EQ(events[0]["enclosure_wwn"].get<std::string>().size(), 16u);
    for (const json& event : events)
        EXPECT_EQ(SchemaViolation(event, "watch.schema.json"), "");
    EXPECT_FALSE(watch.ReadLine(std::chrono::milliseconds(500)));
}

// Mistakes that waiting cannot mend end at once with a usage error, before
// any host is asked.
TEST(CliUsage, WordsAndValuesThatCannotWorkAreRefusedAtOnce) {
    const std::vector<std::vector<std::string>> mistakes = {
        {"-H", "127.0.0.1:99999", "show"},
        {"-H", "[::1", "show"},
        {"--timeout", "5s", "show"},
        {"show", "extra"},
        {"watch", "JBOD-1"},
        {"no-such-command"},
        {"--timeout=5s", "show"},
        {"show", "--listen", "127.0.0.1:9000"},  // an option of metrics
        {"mute", "JBOD-1", "--index", "3"},      // an option of ident
        {"ident", "JBOD-1", "on", "--sas-address", "5000C5"},
        {"restart", "JBOD-1", "--readings"},
        {"show", "--json", "--", "--allow-empty"},  // a word after "--"
    };
    for (const auto& words : mistakes) {
        std::vector<std::string> argv = {HALVORINCTL};
        argv.insert(argv.end(), words.begin(), words.end());
        const auto started = std::chrono::steady_clock::now();
        int code = -1;
        const std::string out = RunProgram(argv, &code);
        EXPECT_EQ(code, 1) << words[0] << " " << out;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    }
    const std::vector<std::vector<std::string>> mkfw_mistakes = {
        {"--inspect"},
        {"--inspect", "a.lzma", "--model", "m810"},
        {"--model", "m810", "stray-word"},
        {"--frobnicate"},
    };
    for (const auto& words : mkfw_mistakes) {
        std::vector<std::string> argv = {HALVORIN_MKFW};
        argv.insert(argv.end(), words.begin(), words.end());
        int code = -1;
        RunProgram(argv, &code);
        EXPECT_EQ(code, 1) << words.back();
    }
    int code = -1;
    EXPECT_EQ(RunProgram({HALVORIN_MKFW, "--version"}, &code).rfind("halvorin-mkfw ", 0), 0u);
    EXPECT_EQ(code, 0);
}

TEST(Mkfw, BuildsAPackageThatInspectsSoundAndThatStandardToolsRead) {
    const std::string package = test::UniqueTempPath("cli-fw.lzma");
    int code = -1;
    RunProgram({HALVORIN_MKFW, "--model=m810", "--image-a", WriteBytes("a.bin", 5000, 1),
                "--image-b", WriteBytes("b.bin", 7000, 2), "-o", package},
               &code);
    ASSERT_EQ(code, 0);
    // "-o -" writes the same package to standard output.
    const std::string piped =
        RunProgram({HALVORIN_MKFW, "--model", "m810", "--image-a", WriteBytes("a.bin", 5000, 1),
                    "--image-b", WriteBytes("b.bin", 7000, 2), "-o", "-"},
                   &code);
    EXPECT_EQ(code, 0);
    std::ifstream written(package, std::ios::binary);
    EXPECT_EQ(piped, std::string(std::istreambuf_iterator<char>(written), {}));
    const std::string report = RunProgram({HALVORIN_MKFW, "--inspect", package}, &code);
    EXPECT_EQ(code, 0) << report;
    EXPECT_NE(report.find("model: m810"), std::string::npos);
    EXPECT_NE(report.find("image B: offset 5076, 7000 bytes"), std::string::npos) << report;
    EXPECT_NE(report.find("package is sound"), std::string::npos);
    if (std::system("command -v xz >/dev/null && command -v tar >/dev/null") == 0) {
        const std::string listing =
            RunProgram({"/bin/sh", "-c", "xz --format=lzma -dc " + package + " | tar -tvf -"});
        EXPECT_NE(listing.find("jbod_fw.bin"), std::string::npos) << listing;
        EXPECT_NE(listing.find("12076"), std::string::npos) << listing;
    }
    // A damaged package is reported as such.
    std::fstream damage(package, std::ios::in | std::ios::out | std::ios::binary);
    damage.seekp(-20, std::ios::end);
    damage.put('\x55');
    damage.close();
    RunProgram({HALVORIN_MKFW, "--inspect", package}, &code);
    EXPECT_NE(code, 0);
}

// A JBOD cabled to two servers shows the same WWN under both: a bare name
// is refused with the candidates, HOST/NAME picks one, and the output says
// which host it went through.
TEST_F(Cli, AnEnclosureSeenFromTwoHostsMustBeNamedWithItsHost) {
    StartAgent({test::ScenarioPath("jbod24.json")});
    const std::string first = Host();
    auto first_agent = std::move(agent_);
    StartAgent({test::ScenarioPath("jbod24.json")});
    const std::string second = Host();
    const std::string wwn = "500A0B0C0D0E0F00";
    ChildProcess ambiguous({HALVORINCTL, "-H", first, "-H", second, "uid-led", wwn, "on"},
                           {.with_errors = true});
    std::string out;
    EXPECT_EQ(ambiguous.Wait(out), 2);
    EXPECT_NE(out.find("names more than one enclosure"), std::string::npos) << out;
    EXPECT_NE(out.find(first + "/"), std::string::npos) << out;
    EXPECT_NE(out.find(second + "/"), std::string::npos) << out;
    int code = -1;
    out = RunProgram({HALVORINCTL, "-H", first, "-H", second, "uid-led", second + "/" + wwn, "on"},
                     &code);
    EXPECT_EQ(code, 0) << out;
    EXPECT_EQ(out.rfind(second + "/", 0), 0u) << out;
}

// The exporter and a console run all day; show and the actions must still
// get through, over IPv6 too, and one manager too many hears who is served.
TEST_F(Cli, TheExporterWatchAndShowAreServedAtOnce) {
    agent_options_ = {"--max-managers", "3"};
    StartAgent({test::ScenarioPath("jbod24.json")});
    // Long-running managers whose output nobody reads: a full pipe would
    // stop them, and the agent would drop them as slow readers.
    const auto quietly = [](const std::string& command) {
        return ChildProcess({"/bin/sh", "-c", "exec " + command + " >/dev/null 2>&1"});
    };
    ChildProcess exporter =
        quietly(std::string(HALVORINCTL) + " -H " + Host() + " metrics --listen 127.0.0.1:0");
    ChildProcess watch = quietly(std::string(HALVORINCTL) + " -H " + Host() + " watch");
    const std::string v6 = "[::1]:" + std::to_string(port_);
    ASSERT_TRUE(test::Eventually(
        [&] {
            int code = -1;
            const std::string out = RunProgram({HALVORINCTL, "-H", v6, "show"}, &code);
            return code == 0 && out.find("500A0B0C0D0E0F00") != std::string::npos;
        },
        std::chrono::seconds(10)));

    ASSERT_TRUE(WaitUntilServing(2));  // the exporter and the watch
    const std::set<std::string> first_two = ServedManagers();
    ChildProcess second_watch = quietly(std::string(HALVORINCTL) + " -H " + Host() + " watch");
    // Its place first: a show that came before it would hold the place, and
    // the watch would hear busy and try again only 5 s later.
    ASSERT_TRUE(WaitUntilServing(3, first_two));
    std::string out;
    ASSERT_TRUE(test::Eventually(
        [&] {
            ChildProcess show({HALVORINCTL, "-H", Host(), "show"}, {.with_errors = true});
            return show.Wait(out) == 2 && out.find("agent busy") != std::string::npos;
        },
        std::chrono::seconds(10)))
        << out;
    EXPECT_NE(out.find("serving 3 managers (" + Utf16ToUtf8(ManagerComputerName()) + " at "),
              std::string::npos)
        << out;
}

// An enclosure that is gone (shut down, cable pulled) leaves a host with
// nothing to show: that is a failure unless the operator says it is fine.
TEST_F(Cli, ShowFailsOnAHostWithoutEnclosures) {
    StartAgent({test::ScenarioPath("jbod24.json")});
    int code = -1;
    RunProgram({HALVORINCTL, "-H", Host(), "--expect-enclosures", "2", "show"}, &code);
    EXPECT_EQ(code, 2);
    RunProgram({HALVORINCTL, "-H", Host(), "--expect-enclosures", "1", "show"}, &code);
    EXPECT_EQ(code, 0);
    RunProgram({HALVORINCTL, "-H", Host(), "--yes", "shutdown", "500A0B0C0D0E0F00"}, &code);
    ASSERT_EQ(code, 0);
    ASSERT_TRUE(test::Eventually(
        [&] {
            ChildProcess show({HALVORINCTL, "-H", Host(), "--timeout", "5", "show"},
                              {.with_errors = true});
            std::string out;
            return show.Wait(out) == 2 && out.find("no enclosure") != std::string::npos;
        },
        std::chrono::seconds(90)));
    RunProgram({HALVORINCTL, "-H", Host(), "--allow-empty", "show"}, &code);
    EXPECT_EQ(code, 0);
    RunProgram({HALVORINCTL, "-H", Host(), "--timeout", "5s", "show"}, &code);
    EXPECT_EQ(code, 1) << "a timeout is a whole number of seconds";
}

// --config names the hosts in a file, comments and blank lines left out; a
// line that is no host is a usage error that says where it is.
TEST_F(Cli, HostsComeFromAConfigFile) {
    StartAgent({test::ScenarioPath("jbod24.json")});
    const std::string file = test::UniqueTempPath("fleet.hosts");
    std::ofstream(file) << "# the fleet\n\n  " << Host() << "   # rack 1\n";
    int code = -1;
    const std::string out = RunProgram({HALVORINCTL, "--config", file, "show"}, &code);
    EXPECT_EQ(code, 0) << out;
    EXPECT_NE(out.find("500A0B0C0D0E0F00"), std::string::npos) << out;

    std::ofstream(file) << Host() << "\nnot a host\n";
    ChildProcess bad({HALVORINCTL, "-c", file, "show"}, {.with_errors = true});
    std::string said;
    EXPECT_EQ(bad.Wait(said), 1);
    EXPECT_NE(said.find(file + ":2: \"not a host\" is not a host"), std::string::npos) << said;
    ChildProcess missing({HALVORINCTL, "--config", file + ".gone", "show"}, {.with_errors = true});
    EXPECT_EQ(missing.Wait(said), 1);
    EXPECT_NE(said.find("No such file or directory"), std::string::npos) << said;
    std::filesystem::remove(file);
}

}  // namespace
}  // namespace halvorin
