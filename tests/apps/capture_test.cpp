// `halvorinctl capture`: every shipped scenario captured through a real
// agent, served again as a recording, reads back as the same model; with
// redaction nothing that names the hardware survives; a broken capture file
// is refused with the field that is wrong.
#include "apps/halvorinctl/capture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "apps/halvorinctl/enclosure_report.h"
#include "base/host_name.h"
#include "base/utf16.h"
#include "enclosure/model/ses_domain.h"
#include "enclosure/model/sub_enc.h"
#include "sim/simulated_enclosure.h"
#include "tests/support/ctl_host.h"
#include "tests/support/fake_agent.h"
#include "tests/support/loopback_manager.h"
#include "tests/support/process.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/temp_path.h"

namespace halvorin {
namespace {

using nlohmann::json;
using test::ChildProcess;

sim::Scenario Replayed(const json& capture) {
    std::string error;
    auto scenario = sim::ParseScenario(capture.dump(), error);
    EXPECT_TRUE(scenario) << error;
    return scenario ? *scenario : sim::Scenario{};
}

// Drops the fields redaction changes (and the display name built from the WWN).
json WithoutIdentities(const json& value) {
    static const std::set<std::string> identities = {"wwn",  "device",      "id",
                                                     "name", "sas_address", "serial"};
    if (value.is_object()) {
        json out = json::object();
        for (const auto& [key, item] : value.items())
            if (!identities.count(key)) out[key] = WithoutIdentities(item);
        return out;
    }
    if (value.is_array()) {
        json out = json::array();
        for (const json& item : value)
            out.push_back(WithoutIdentities(item));
        return out;
    }
    return value;
}

// Every identifying string value of a report.
void Identities(const json& value, std::set<std::string>& found) {
    if (value.is_object()) {
        for (const auto& [key, item] : value.items()) {
            const bool identifying = key == "wwn" || key == "device" || key == "id" ||
                                     key == "sas_address" || key == "serial";
            if (identifying && item.is_string() && item.get<std::string>().size() >= 4 &&
                item.get<std::string>() != std::string(16, '0'))
                found.insert(item.get<std::string>());
            else
                Identities(item, found);
        }
    } else if (value.is_array()) {
        for (const json& item : value)
            Identities(item, found);
    }
}

class CaptureTest : public ::testing::TestWithParam<const char*> {};

TEST_P(CaptureTest, TheReplayReadsBackAsTheSameModel) {
    test::CtlHost original(test::LoadShippedScenario(GetParam()));
    ASSERT_TRUE(original.session);
    CSubEnc* subenc = original.FirstEnclosure();
    ASSERT_NE(subenc, nullptr);
    std::string error;
    const auto capture = ctl::CaptureEnclosure(*original.session, subenc, false, error);
    ASSERT_TRUE(capture) << error;
    EXPECT_EQ((*capture)["kind"], "recorded");

    test::CtlHost replay(Replayed(*capture));
    ASSERT_TRUE(replay.session);
    EXPECT_EQ(replay.Report(), original.Report());
}

TEST_P(CaptureTest, ARedactedReplayDiffersOnlyInIdentitiesAndKeepsNoneOfThem) {
    test::CtlHost original(test::LoadShippedScenario(GetParam()));
    ASSERT_TRUE(original.session);
    std::string error;
    const auto capture =
        ctl::CaptureEnclosure(*original.session, original.FirstEnclosure(), true, error);
    ASSERT_TRUE(capture) << error;
    const std::string text = capture->dump();
    std::set<std::string> identities;
    Identities(original.Report(), identities);
    ASSERT_FALSE(identities.empty());
    for (const std::string& identity : identities) {
        EXPECT_EQ(text.find(identity), std::string::npos) << identity;
        std::string hex;  // serial numbers travel as text inside the hex
        for (unsigned char c : identity)
            hex += ctl::Hex(&c, 1);
        EXPECT_EQ(text.find(hex), std::string::npos) << identity;
    }

    test::CtlHost replay(Replayed(*capture));
    ASSERT_TRUE(replay.session);
    const json replayed = replay.Report();
    EXPECT_EQ(WithoutIdentities(replayed), WithoutIdentities(original.Report()));
    // The same fake for the same value: as many distinct identities as before.
    std::set<std::string> fakes;
    Identities(replayed, fakes);
    EXPECT_EQ(fakes.size(), identities.size());
}

// jbod12-unsupported.json is left out: the model refuses its enclosure, so
// there is none to name.
INSTANTIATE_TEST_SUITE_P(ShippedScenarios, CaptureTest,
                         ::testing::Values("jbod24.json", "jbod84-dual-path.json", "demo.json"));

// Bytes that are not UTF-8 in what a device reports (vendor, product, a
// disk's serial) reach the JSON report and the capture as text; the raw
// bytes of a disk's identity stay in hex beside it, and redaction still
// finds them in the recorded pages.
TEST(CaptureBytes, TextThatIsNotUtf8IsReportedCapturedAndRedacted) {
    sim::Scenario scenario = test::LoadShippedScenario("jbod24.json");
    scenario.subenclosures.at(0).vendor = "HAL\xFFVRN";
    scenario.subenclosures.at(0).product = "JB24\xC3";
    sim::ElementDescription& slot = scenario.types.at(0).elements.at(2);
    ASSERT_TRUE(slot.disk);
    slot.disk->serial =
        "ZL2A\xFF"
        "003";
    test::CtlHost host(scenario);
    ASSERT_TRUE(host.session);
    const json report = host.Report();
    const std::string text = report.dump();  // threw type_error before
    const json& enclosure = report["enclosures"][0];
    EXPECT_EQ(enclosure["vendor"], "HAL\xEF\xBF\xBDVRN");
    EXPECT_EQ(enclosure["product"], "JB24\xEF\xBF\xBD");
    const json* disk = nullptr;
    for (const json& group : enclosure["groups"])
        if (group["type"] == 23) disk = &group["elements"][2]["disk"];
    ASSERT_NE(disk, nullptr);
    EXPECT_EQ((*disk)["serial"],
              "ZL2A\xEF\xBF\xBD"
              "003");
    EXPECT_EQ((*disk)["serial_hex"], "5A4C3241FF303033");
    EXPECT_FALSE(disk->contains("vendor_hex"));

    std::string error;
    const auto redacted = ctl::CaptureEnclosure(*host.session, host.FirstEnclosure(), true, error);
    ASSERT_TRUE(redacted) << error;
    const std::string captured = redacted->dump();
    EXPECT_EQ(captured.find("5A4C3241FF303033"), std::string::npos) << "the raw serial survived";
    const auto plain = ctl::CaptureEnclosure(*host.session, host.FirstEnclosure(), false, error);
    ASSERT_TRUE(plain) << error;
    EXPECT_NE(plain->dump().find("5A4C3241FF303033"), std::string::npos);
}

TEST(CaptureFile, ABrokenCaptureIsRefusedWithTheFieldThatIsWrong) {
    test::CtlHost original(test::LoadShippedScenario("jbod24.json"));
    ASSERT_TRUE(original.session);
    std::string error;
    const auto capture =
        ctl::CaptureEnclosure(*original.session, original.FirstEnclosure(), false, error);
    ASSERT_TRUE(capture) << error;
    const std::string status = (*capture)["recorded"]["pages"]["02"];

    struct Case {
        const char* what;
        std::function<void(json&)> edit;
        const char* field;
    };
    const Case cases[] = {
        {"a page cut short", [&](json& c) { c["recorded"]["pages"]["02"] = status.substr(0, 40); },
         "recorded.pages.02"},
        {"an odd digit", [&](json& c) { c["recorded"]["pages"]["02"] = status + "F"; },
         "recorded.pages.02"},
        {"not hex", [&](json& c) { c["recorded"]["pages"]["05"] = "zz"; }, "recorded.pages.05"},
        {"another page under the key", [&](json& c) { c["recorded"]["pages"]["07"] = status; },
         "recorded.pages.07"},
        {"a page code that is no code", [&](json& c) { c["recorded"]["pages"]["2"] = status; },
         "recorded.pages.2"},
        {"a buffer offset that is no number",
         [&](json& c) { c["recorded"]["vendor_buffer"]["x"] = "00"; }, "recorded.vendor_buffer.x"},
        {"no bytes at all", [&](json& c) { c.erase("recorded"); }, "recorded"},
        {"an unknown kind", [&](json& c) { c["kind"] = "copied"; }, "kind"},
    };
    for (const Case& c : cases) {
        json edited = *capture;
        c.edit(edited);
        std::string why;
        EXPECT_FALSE(sim::ParseScenario(edited.dump(), why)) << c.what;
        EXPECT_EQ(why.rfind(std::string(c.field) + ":", 0), 0u) << c.what << ": " << why;
    }
    std::string why;
    const std::string text = capture->dump();
    EXPECT_FALSE(sim::ParseScenario(text.substr(0, text.size() / 2), why));  // truncated
    EXPECT_FALSE(why.empty());
}

TEST(CaptureFile, ARecordingAcknowledgesControlWritesAndStaysAsRecorded) {
    test::CtlHost original(test::LoadShippedScenario("demo.json"));
    ASSERT_TRUE(original.session);
    std::string error;
    const auto capture =
        ctl::CaptureEnclosure(*original.session, original.FirstEnclosure(), false, error);
    ASSERT_TRUE(capture) << error;
    ManualClock clock;
    sim::SimulatedEnclosure replay(Replayed(*capture), clock);
    const auto status = replay.ReadDiagnosticPage(0x02);
    ASSERT_TRUE(status);
    std::vector<uint8_t> control = *status;  // the status page sent back as control
    control[0] = 0x02;
    EXPECT_TRUE(replay.WriteDiagnosticPage(control));
    EXPECT_EQ(replay.ReadDiagnosticPage(0x02), status);
    const auto buzzer = replay.ReadVendorBuffer(2);
    ASSERT_TRUE(buzzer);
    EXPECT_TRUE(replay.WriteVendorBuffer(2, std::vector<uint8_t>{0}));
    EXPECT_EQ(replay.ReadVendorBuffer(2), buzzer);
    EXPECT_FALSE(replay.ReadDiagnosticPage(0x0E));  // never recorded: refused
}

// The commands as an operator runs them: capture from one agent, serve the
// file with another, and show both.
TEST(CaptureCommand, TheAgentServesWhatTheCommandCaptured) {
    const auto start_agent = [](const std::string& scenario, uint16_t port) {
        return std::make_unique<ChildProcess>(
            std::vector<std::string>{HALVORIN_AGENTD, "--port", std::to_string(port), "--allow",
                                     Utf16ToUtf8(ManagerComputerName()), "--simulate", scenario});
    };
    const auto show = [](uint16_t port) {
        ChildProcess ctl({HALVORINCTL, "-H", "127.0.0.1:" + std::to_string(port), "--timeout", "20",
                          "show", "--json"});
        std::string out;
        ctl.Wait(out);
        return json::parse(out, nullptr, false);
    };
    const uint16_t original_port = test::FreePort();
    auto original =
        start_agent(std::string(HALVORIN_SOURCE_DIR) + "/sim/scenarios/jbod24.json", original_port);
    const std::string file = test::UniqueTempPath("capture.json");
    ASSERT_TRUE(test::Eventually(
        [&] {
            ChildProcess ctl({HALVORINCTL, "-H", "127.0.0.1:" + std::to_string(original_port),
                              "--timeout", "20", "capture", "500A0B0C0D0E0F00", "-o", file});
            std::string out;
            return ctl.Wait(out) == 0;
        },
        std::chrono::seconds(20)));
    const uint16_t replay_port = test::FreePort();
    auto replay = start_agent(file, replay_port);
    const json a = show(original_port);
    const json b = show(replay_port);
    ASSERT_TRUE(a.is_object() && b.is_object());
    const json& ea = a["hosts"][0]["enclosures"];
    const json& eb = b["hosts"][0]["enclosures"];
    ASSERT_EQ(eb.size(), ea.size());
    EXPECT_EQ(eb[0]["wwn"], ea[0]["wwn"]);
    EXPECT_EQ(eb[0]["groups"].size(), ea[0]["groups"].size());
    std::remove(file.c_str());

    // A file cut short: the agent refuses to start and says why.
    std::ofstream(file) << "{\"kind\": \"recorded\", \"recorded\": {\"pages\": {\"02\": \"0200";
    ChildProcess refused(
        {HALVORIN_AGENTD, "--port", std::to_string(test::FreePort()), "--simulate", file});
    std::string out;
    EXPECT_NE(refused.Wait(out, std::chrono::seconds(10)), 0);
    std::remove(file.c_str());
}

}  // namespace
}  // namespace halvorin
