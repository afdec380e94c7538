// halvorinctl upgrade: downloads a firmware package to the enclosure, follows
// the download and the activation, and checks the revision it runs afterwards.

#include "apps/halvorinctl/action_support.h"

#include <unistd.h>

#include "apps/halvorinctl/command.h"
#include "apps/halvorinctl/enclosure_report.h"
#include "apps/halvorinctl/stop_signal.h"
#include "base/string_table.h"
#include "base/text_format.h"
#include "base/utf16.h"
#include "enclosure/model/display_name.h"
#include "enclosure/model/element_types.h"
#include "enclosure/ops/firmware_package.h"
#include "enclosure/ops/firmware_read_back.h"
#include "enclosure/ops/firmware_upgrade.h"

namespace halvorin::ctl {

namespace {

std::string UpgradeMessage(int state) {
    int id = 167;
    switch (state) {
        case kInvalidFirmware:
            id = 163;
            break;
        case kModelMismatch:
            id = 164;
            break;
        case kUpgradeRunning:
            id = 165;
            break;
        case kHelloRefused:
        case kConnectFailed:
        case kConnectionClosed:
        case kConnectionLost:
            id = 166;
            break;
        case kPackageOpenFailed:
        case kNotFound:
            id = 162;
            break;
        case kNoResource:
        case kOutOfMemory:
            id = 161;
            break;
        default:
            break;
    }
    return Utf16ToUtf8(LoadString(id));
}

// Prints the upgrade's progress until it ends; its final state, or -15 when
// we were interrupted (the upgrade is stopped then).
int FollowUpgrade(ActionContext& c, CSubEnc* subenc) {
    // A report for scripts has no progress in it: only its end.
    const bool terminal = !c.json && ::isatty(STDOUT_FILENO);
    int shown = -100;
    while (true) {
        if (c.session.interrupted()) {
            StopFirmwareUpgrades();
            if (terminal) std::printf("\n");
            return kClosing;
        }
        const int state = subenc->upgrade_state;
        if (state != shown) {
            shown = state;
            if (state >= 0 && state < 100 && terminal) {
                const int bar = state / 2;
                std::printf("\r[%-50s] %3d%%", std::string(bar, '#').c_str(), state);
            } else if (state >= 0 && state < 100 && !c.json) {
                std::printf("progress %d%%\n", state);
            } else if (state >= 100) {
                if (terminal) std::printf("\n");
                Say(c, Utf16ToUtf8(LoadString(168)));
            }
            std::fflush(stdout);
        }
        if (state < 0) break;
        c.session.WaitForNextStep();
        c.session.Poll();
    }
    if (terminal && shown < 100) std::printf("\n");
    return shown;
}

// What the enclosure runs is not known once its agent went away during the
// activation or the read-back after it: said at once, not after a long wait.
int AgentWentAway(ActionContext& c, const std::string& name) {
    std::fprintf(stderr,
                 "halvorinctl: %s: the agent went away during activation; the enclosure's "
                 "firmware is unknown; read it with show when the host is back\n",
                 name.c_str());
    Say(c, Utf16ToUtf8(FormatString(LoadString(20021), {Utf8ToUtf16(name)})));
    return kExitOperationFailed;
}

// After activation: reads the enclosure again until it reports its firmware
// revision, through a restart of the enclosure if it makes one, for up to
// two minutes (or --timeout when given); the end of the upgrade's exit status.
int CheckRevisionAfterActivation(ActionContext& c, CSubEnc* subenc, const std::string& name,
                                 const std::string& package_revision) {
    CSesDomain* domain = subenc->dev->domain;
    const uint64_t connection = domain->client.connection_generation();
    FirmwareReadBack read_back(domain, subenc->dev->Identifier(), subenc->id,
                               SubEncInfo(subenc).firmware_revision);
    const int limit = c.timeout_given ? c.timeout_s : kRestartFollowSeconds;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limit);
    FirmwareReadBack::Outcome outcome = FirmwareReadBack::Outcome::kPending;
    while (!c.session.interrupted()) {
        c.session.Poll();
        outcome = read_back.Step();
        if (outcome != FirmwareReadBack::Outcome::kPending) break;
        if (domain->client.connection_generation() != connection ||
            domain->client.state() != kStateReady)
            return AgentWentAway(c, name);
        if (std::chrono::steady_clock::now() >= deadline) break;
        c.session.WaitForNextStep();
    }
    if (c.session.interrupted()) return kExitOperationFailed;
    const std::string& before = read_back.revision_before();
    const std::string& after = read_back.revision();
    if (outcome == FirmwareReadBack::Outcome::kPending) {
        std::fprintf(stderr, "halvorinctl: %s was not read back after the upgrade\n", name.c_str());
        return kExitOperationFailed;
    }
    const bool as_packaged = package_revision.empty() || after == package_revision;
    if (outcome == FirmwareReadBack::Outcome::kUnchanged || !as_packaged) {
        std::fprintf(stderr, "halvorinctl: %s still reports firmware revision %s%s\n", name.c_str(),
                     after.c_str(),
                     as_packaged ? ": the new firmware is not running"
                                 : (", the package holds " + package_revision).c_str());
        Say(c, Utf16ToUtf8(FormatString(LoadString(20021), {Utf8ToUtf16(name)})));
        c.report["firmware_revision"] = after;
        return kExitOperationFailed;
    }
    Say(c, "firmware revision " + after + " (was " + before + ")");
    Say(c, Utf16ToUtf8(FormatString(LoadString(20020), {Utf8ToUtf16(name)})));
    c.report["firmware_revision"] = after;
    c.report["firmware_revision_before"] = before;
    return 0;
}

int UpgradeFirmware(ActionContext& c, CSubEnc* subenc) {
    if (c.words.size() != 3) return Usage("usage: upgrade ENCLOSURE PACKAGE");
    const std::string& path = c.words[2];
    // The package is checked here, before anything is asked or sent: a file
    // we cannot use is the operator's mistake (1), a damaged package or one
    // for another model is refused as the enclosure would (3).
    std::vector<uint8_t> bytes;
    if (const PackageProblem p = ReadPackageFile(path, bytes); p.failed())
        return Usage(path + ": " + p.text);
    bytes = {};
    std::string model;
    {
        std::lock_guard lock(subenc->mutex);
        model = subenc->model_text;
    }
    std::optional<UnpackedFirmware> firmware;
    const PackageProblem problem =
        UnpackFirmware(path, model, firmware, kMaxFirmwareArchive, &StopRequested());
    if (c.session.interrupted()) return kExitOperationFailed;  // and nothing more is said
    if (problem.failed()) {
        RecordOutcome(c, OperatorAction::kStartUpgrade, {EnclosureDisplayName(subenc)},
                      problem.result);
        std::fprintf(stderr, "halvorinctl: %s: %s\n", path.c_str(), problem.text.c_str());
        return kExitOperationFailed;
    }
    const std::string name = Who(c, subenc);
    const std::string before = SubEncInfo(subenc).firmware_revision;
    const std::string package_revision = firmware->revision;
    // An upgrade that already took effect (an earlier run was cut off during
    // the activation) is not done twice.
    if (!package_revision.empty() && package_revision == before) {
        Say(c,
            name + " already runs firmware revision " + before + ", the package's: nothing to do");
        c.report["firmware_revision"] = before;
        return 0;
    }
    if (!Confirm(c, name + ": " + Utf16ToUtf8(LoadString(129)))) return kExitUsage;
    if (c.session.interrupted()) return kExitOperationFailed;
    UpgradeOptions options;
    options.activation_wait = std::chrono::seconds(c.activation_wait_s);
    const int started = StartFirmwareUpgrade(subenc, std::move(*firmware), options);
    RecordOutcome(c, OperatorAction::kStartUpgrade, {EnclosureDisplayName(subenc)}, started);
    if (started < 0) return Failed("upgrade", started);
    Say(c, Utf16ToUtf8(FormatString(LoadString(20019), {Utf8ToUtf16(name)})));
    const int end = FollowUpgrade(c, subenc);
    if (end == kClosing) return kExitOperationFailed;
    if (end == kActivationUnknown) return AgentWentAway(c, name);
    if (end != kUpgradeCompleted) {
        Say(c, UpgradeMessage(end));
        Say(c, Utf16ToUtf8(FormatString(LoadString(20021), {Utf8ToUtf16(name)})));
        return kExitOperationFailed;
    }
    subenc->upgrade_state = kUpgradeIdle;
    // The enclosure took both images; only the revision it reports afterwards
    // proves that it runs the new firmware.
    return CheckRevisionAfterActivation(c, subenc, name, package_revision);
}

}  // namespace

extern const Command kCommandUpgrade = {
    "upgrade",
    "  upgrade [--activation-wait SECONDS] ENCLOSURE PACKAGE\n"
    "                                upgrade the firmware from a package; the enclosure\n"
    "                                gets SECONDS (default 10) to activate it before\n"
    "                                its revision is read back\n",
    {kOptYes, kOptJson, kOptQuiet, kOptActivationWait},
    NeedsEnclosure,
    [](ManagerSession& session, const CommandLine& line) {
        return RunAction(session, line, UpgradeFirmware);
    },
};

}  // namespace halvorin::ctl
