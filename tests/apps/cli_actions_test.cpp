// The operator's actions and firmware upgrades through halvorinctl, against
// halvorin-agentd serving simulated enclosures.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

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

TEST_F(Cli, ActionsChangeTheEnclosureAndPrintItsAnswer) {
    StartAgent({test::ScenarioPath("jbod24.json")});
    const std::string wwn = "500A0B0C0D0E0F00";
    int code = -1;
    std::string out = RunProgram({HALVORINCTL, "-H", Host(), "rename", wwn, "RACK7-SHELF2"}, &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(out, Host() + ": System name was changed to RACK7-SHELF2.\n");
    // Slot number 2 is what the enclosure and show give the third slot (whose
    // descriptor, counted from 1, says "Slot 03"): that is the slot that lights.
    out = RunProgram({HALVORINCTL, "-H", Host(), "ident", "RACK7-SHELF2", "2", "on"}, &code);
    EXPECT_EQ(code, 0) << out;
    EXPECT_NE(out.find(Host() + "/RACK7-SHELF2: slot 2 \"Slot 03\", disk "), std::string::npos)
        << out;
    EXPECT_NE(out.find("identification LED is on"), std::string::npos) << out;
    out = RunProgram({HALVORINCTL, "-H", Host(), "mute", "RACK7-SHELF2"}, &code);
    EXPECT_NE(out.find("buzzer is silent"), std::string::npos);
    out = RunProgram({HALVORINCTL, "-H", Host(), "-q", "mute", "RACK7-SHELF2"}, &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(out, "");
    out = RunProgram({HALVORINCTL, "-H", Host(), "uid-led", wwn, "on"}, &code);
    EXPECT_NE(out.find("UID LED is on"), std::string::npos);
    out = RunProgram({HALVORINCTL, "-H", Host(), "zoning", wwn, "set", "4", "1-6,9"}, &code);
    EXPECT_EQ(code, 0);
    EXPECT_NE(out.find("port 4: 1,2,3,4,5,6,9"), std::string::npos) << out;

    json report = Show();
    const json& enclosure = report["hosts"][0]["enclosures"][0];
    EXPECT_EQ(enclosure["name"], "RACK7-SHELF2");
    EXPECT_EQ(enclosure["indicators"]["buzzer"], false);
    EXPECT_EQ(enclosure["indicators"]["uid_led"], true);
    const json& slots = (*Group(enclosure, 23))["elements"];
    const auto lit = [](const json& slot) {
        return std::find(slot["state"].begin(), slot["state"].end(), "identify") !=
               slot["state"].end();
    };
    EXPECT_TRUE(lit(slots[2]));
    EXPECT_FALSE(lit(slots[1]));
    EXPECT_FALSE(lit(slots[3]));
    EXPECT_EQ(slots[2]["slot_number"], 2);
    EXPECT_EQ(slots[2]["descriptor"], "Slot 03");
    // By position and by the disk in the slot, as scripts may want.
    out = RunProgram({HALVORINCTL, "-H", Host(), "--index", "3", "ident", wwn, "off"}, &code);
    EXPECT_EQ(code, 0) << out;
    EXPECT_NE(out.find("slot 2 \"Slot 03\""), std::string::npos) << out;
    const std::string serial = slots[4]["disk"]["serial"];
    out = RunProgram({HALVORINCTL, "-H", Host(), "--serial", serial, "ident", wwn, "on"}, &code);
    EXPECT_EQ(code, 0) << out;
    EXPECT_NE(out.find("slot 4 \"Slot 05\", disk " + serial), std::string::npos) << out;
    // The simulator gives the disk in slot N the SAS address 5000C500000010NN.
    out = RunProgram({HALVORINCTL, "-H", Host(), "--sas-address", "0x50:00:c5:00:00:00:10:07",
                      "ident", wwn, "on"},
                     &code);
    EXPECT_EQ(code, 0) << out;
    EXPECT_NE(out.find("slot 7 \"Slot 08\""), std::string::npos) << out;
    EXPECT_EQ(slots[7]["disk"]["sas_address"], "5000C50000001007");
    RunProgram({HALVORINCTL, "-H", Host(), "--sas-address", "5000C5000000FFFF", "ident", wwn, "on"},
               &code);
    EXPECT_EQ(code, 1);
    // A number no slot has lights nothing and lists the numbers there are.
    RunProgram({HALVORINCTL, "-H", Host(), "ident", wwn, "24", "on"}, &code);
    EXPECT_EQ(code, 1);
    RunProgram({HALVORINCTL, "-H", Host(), "ident", wwn, "2x", "on"}, &code);
    EXPECT_EQ(code, 1);
    // A name longer than the enclosure keeps is refused before anything is sent.
    RunProgram({HALVORINCTL, "-H", Host(), "rename", wwn, std::string(33, 'N')}, &code);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(Show()["hosts"][0]["enclosures"][0]["name"], "RACK7-SHELF2");

    RunProgram({HALVORINCTL, "-H", Host(), "restart", wwn}, &code);
    EXPECT_EQ(code, 1) << "restart without --yes and without a terminal must not happen";
    RunProgram({HALVORINCTL, "-H", Host(), "mute", "NO-SUCH-ENCLOSURE"}, &code);
    EXPECT_EQ(code, 2);

    // With --json each action prints one report, whatever its outcome.
    json done = json::parse(
        RunProgram({HALVORINCTL, "-H", Host(), "ident", wwn, "4", "off", "--json"}, &code));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(done["ok"], true);
    EXPECT_EQ(done["slot_number"], 4);
    EXPECT_EQ(done["disk_serial"], serial);
    EXPECT_EQ(done["identify"], false);
    EXPECT_EQ(done["enclosure_wwn"], wwn);
    // The line the desktop's event list shows for it.
    EXPECT_EQ(done["event"]["level"], "information");
    EXPECT_EQ(done["event"]["message_id"], 307);
    EXPECT_NE(done["event"]["text"].get<std::string>().find("was switched off"), std::string::npos)
        << done["event"];
    EXPECT_EQ(SchemaViolation(done, "action.schema.json"), "");
    json zoning =
        json::parse(RunProgram({HALVORINCTL, "-H", Host(), "zoning", wwn, "show", "--json"}));
    EXPECT_EQ(zoning["zones"][3]["slots"], json({1, 2, 3, 4, 5, 6, 9}));
    EXPECT_EQ(SchemaViolation(zoning, "action.schema.json"), "");
    json refused = json::parse(
        RunProgram({HALVORINCTL, "-H", Host(), "mute", "NO-SUCH-ENCLOSURE", "--json"}, &code));
    EXPECT_EQ(code, 2);
    EXPECT_EQ(refused["ok"], false);
    EXPECT_EQ(refused["exit_status"], 2);
    EXPECT_EQ(SchemaViolation(refused, "action.schema.json"), "");
}

TEST_F(Cli, UpgradeFromAMkfwPackageChangesTheRevision) {
    StartAgent({test::ScenarioPath("jbod24.json")});
    const std::string package = test::MakeSimulatedPackage("cli-upgrade", 20000, 9000, "2.0.8");
    ASSERT_FALSE(package.empty());
    int code = -1;
    // One second to activate: the simulated enclosure needs no more.
    std::string out = RunProgram({HALVORINCTL, "-H", Host(), "--yes", "upgrade",
                                  "--activation-wait", "1", "500A0B0C0D0E0F00", package},
                                 &code);
    EXPECT_EQ(code, 0) << out;
    EXPECT_NE(out.find("starts firmware upgrade."), std::string::npos) << out;
    EXPECT_NE(out.find("Upgrade completes successfully."), std::string::npos) << out;
    EXPECT_NE(out.find("completes firmware upgrade."), std::string::npos) << out;
    EXPECT_NE(out.find("firmware revision 2.0.8 (was 2.0.7)"), std::string::npos) << out;
    EXPECT_EQ(Show()["hosts"][0]["enclosures"][0]["firmware_revision"], "2.0.8");

    // Run again (as after a run cut off during the activation): the enclosure
    // already runs the package's revision, and nothing is sent.
    out = RunProgram({HALVORINCTL, "-H", Host(), "--yes", "upgrade", "500A0B0C0D0E0F00", package},
                     &code);
    EXPECT_EQ(code, 0) << out;
    EXPECT_NE(out.find("already runs firmware revision 2.0.8"), std::string::npos) << out;
    EXPECT_EQ(out.find("starts firmware upgrade"), std::string::npos) << out;

    // A package file that is not there, or not a file, is the operator's mistake.
    RunProgram({HALVORINCTL, "-H", Host(), "--yes", "upgrade", "500A0B0C0D0E0F00",
                test::UniqueTempPath("no-such.lzma")},
               &code);
    EXPECT_EQ(code, 1);
    RunProgram({HALVORINCTL, "-H", Host(), "--yes", "upgrade", "500A0B0C0D0E0F00", "/dev/zero"},
               &code);
    EXPECT_EQ(code, 1);  // So is a wait the command does not take.
    RunProgram({HALVORINCTL, "-H", Host(), "--yes", "upgrade", "--activation-wait", "601",
                "500A0B0C0D0E0F00", package},
               &code);
    EXPECT_EQ(code, 1);
}

// The enclosure takes both images but comes back on its old firmware: that is
// no success.
TEST_F(Cli, UpgradeThatLeavesTheOldRevisionFails) {
    const std::string scenario = test::UniqueTempPath("stays-old.json");
    {
        std::ifstream in(test::ScenarioPath("jbod24.json"));
        json doc = json::parse(in);
        doc["upgrade_revision"] = doc["revision"];
        std::ofstream(scenario) << doc.dump();
    }
    StartAgent({scenario});
    const std::string package = test::MakeSimulatedPackage("cli-stays", 3000, 900);
    ASSERT_FALSE(package.empty());
    int code = -1;
    const std::string out = RunProgram({HALVORINCTL, "-H", Host(), "--yes", "upgrade",
                                        "--activation-wait", "1", "500A0B0C0D0E0F00", package},
                                       &code);
    EXPECT_EQ(code, 3) << out;
    EXPECT_NE(out.find("failed"), std::string::npos) << out;
}

// The agent goes away while the enclosure activates the new firmware: the
// command says the firmware is unknown at once, not after two minutes.
TEST_F(Cli, UpgradeCutOffDuringTheActivationEndsAtOnce) {
    StartAgent({test::ScenarioPath("jbod24.json")});
    const std::string package = test::MakeSimulatedPackage("cli-cut", 3000, 900);
    ASSERT_FALSE(package.empty());
    ChildProcess upgrade(
        {HALVORINCTL, "-H", Host(), "--yes", "upgrade", "500A0B0C0D0E0F00", package},
        {.with_errors = true});
    ASSERT_TRUE(upgrade.WaitForOutput("Upgrade completes successfully.", std::chrono::seconds(30)));
    const auto lost_at = std::chrono::steady_clock::now();
    agent_.reset();
    std::string out;
    EXPECT_EQ(upgrade.Wait(out, std::chrono::seconds(20)), 3) << out;
    EXPECT_LT(std::chrono::steady_clock::now() - lost_at, std::chrono::seconds(5));
    EXPECT_NE(out.find("went away during activation"), std::string::npos) << out;
    EXPECT_EQ(out.find("completes firmware upgrade"), std::string::npos) << out;
}

// Ctrl+C at the confirmation question ends the command at once, every time,
// and nothing is said after "interrupted".
TEST_F(Cli, SigintAtTheQuestionEndsTheCommand) {
    StartAgent({test::ScenarioPath("jbod24.json")});
    const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(::grantpt(terminal), 0);
    ASSERT_EQ(::unlockpt(terminal), 0);
    const std::string answer_side = ::ptsname(terminal);
    for (int attempt = 0; attempt < 6; ++attempt) {
        ChildProcess restart({HALVORINCTL, "-H", Host(), "restart", "500A0B0C0D0E0F00"},
                             {.input = answer_side, .with_errors = true});
        ASSERT_TRUE(restart.WaitForOutput("[y/N]", std::chrono::seconds(20))) << attempt;
        if (attempt % 2) std::this_thread::sleep_for(std::chrono::milliseconds(50 * attempt));
        restart.Signal(SIGINT);
        std::string out;
        EXPECT_EQ(restart.Wait(out, std::chrono::seconds(5)), 130) << attempt << ": " << out;
        const std::string said = "interrupted by SIGINT\n";
        EXPECT_TRUE(out.size() >= said.size() && out.ends_with(said)) << out;
    }
    ::close(terminal);
    EXPECT_TRUE(agent_->running());
}

}  // namespace
}  // namespace halvorin
