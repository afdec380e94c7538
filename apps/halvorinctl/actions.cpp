#include "apps/halvorinctl/actions.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>

#include "apps/halvorinctl/enclosure_report.h"
#include "apps/halvorinctl/stop_signal.h"
#include "base/clock.h"
#include "base/result_code.h"
#include "base/string_table.h"
#include "base/text_format.h"
#include "base/utf16.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/model_ref.h"
#include "enclosure/model/zone_bits.h"
#include "enclosure/ops/control_operations.h"
#include "enclosure/ops/firmware_package.h"
#include "enclosure/ops/firmware_read_back.h"
#include "enclosure/ops/firmware_upgrade.h"
#include "enclosure/pages/request_kind.h"
#include "enclosure/poll/read_chain.h"

namespace halvorin::ctl {

namespace {

// A line for the person at the terminal; with --json it goes into the
// report's "messages" instead, so standard output holds only the report.
void Say(ActionContext& c, const std::string& line) {
    if (c.json) {
        c.report["messages"].push_back(line);
        return;
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

__attribute__((format(printf, 1, 2))) std::string Printf(const char* format, ...) {
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

constexpr int kExitUsage = 1;
constexpr int kExitUnreachable = 2;
// How long a restarting enclosure is followed unless --timeout says otherwise.
constexpr int kRestartFollowSeconds = 120;

int Usage(const std::string& message) {
    std::fprintf(stderr, "halvorinctl: %s\n", message.c_str());
    return kExitUsage;
}

int Failed(const std::string& what, int result) {
    std::fprintf(stderr, "halvorinctl: %s failed: %s (%d)\n", what.c_str(),
                 std::string(ResultCodeName(result)).c_str(), result);
    return kExitOperationFailed;
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// Polls until the condition holds, the time is up or we are interrupted.
bool PollUntil(ManagerSession& session, const std::function<bool()>& done, int timeout_s) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    while (!done() && std::chrono::steady_clock::now() < deadline && !session.interrupted())
        session.WaitForNextStep();
    return done();
}

// The end of an operation. Its callback owns it: with a --timeout shorter
// than the operation's own, the callback runs after we stopped waiting (at
// the latest when the session ends).
struct Outcome {
    bool done = false;
    int result = 0;
};

// Runs an operation: `start` sends it with a callback; then waits for the
// callback. `on_success` runs inside the callback, before anything is read
// back (as the views update the model the moment an operation succeeds).
int RunOperation(ActionContext& c, const std::function<int(OperationCallback)>& start,
                 std::function<void()> on_success = nullptr) {
    auto outcome = std::make_shared<Outcome>();
    const int sent = start([outcome, on_success](int result) {
        outcome->result = result;
        outcome->done = true;
        if (result >= 0 && on_success) on_success();
    });
    if (sent < 0) return sent;
    if (!PollUntil(
            c.session, [&] { return outcome->done; }, c.timeout_s))
        return kTimedOut;
    return outcome->result;
}

// True when everything the operation reads back has been answered and
// decoded (the connection is quiet).
bool WaitForRereads(ActionContext& c, CSesDev* device) {
    return PollUntil(
        c.session, [&] { return device->domain->client.quiet(); }, c.timeout_s);
}

// Reads a kind again and waits for it (for data no operation re-reads itself).
void ReadBack(ActionContext& c, CSesDev* device, uint32_t kind) {
    IssueRead(device, kind, ChainFlags{});
    WaitForRereads(c, device);
}

bool Confirm(const ActionContext& c, const std::string& question) {
    if (c.assume_yes) return true;
    if (!::isatty(STDIN_FILENO)) {
        std::fprintf(stderr, "halvorinctl: %s needs confirmation: use --yes\n", question.c_str());
        return false;
    }
    std::fprintf(stderr, "%s [y/N] ", question.c_str());
    const std::optional<std::string> answer = ReadLineUnlessStopped();
    if (!answer) std::fprintf(stderr, "\n");
    return answer && (*answer == "y" || *answer == "Y" || *answer == "yes");
}

// "1-12,15" -> {1..12, 15}; nothing on a malformed list.
std::optional<std::set<int>> ParseSlots(const std::vector<std::string>& words) {
    std::set<int> slots;
    for (const std::string& word : words) {
        size_t at = 0;
        while (at < word.size()) {
            size_t end = word.find(',', at);
            if (end == std::string::npos) end = word.size();
            const std::string item = word.substr(at, end - at);
            const size_t dash = item.find('-');
            try {
                const int first = std::stoi(item.substr(0, dash));
                const int last =
                    dash == std::string::npos ? first : std::stoi(item.substr(dash + 1));
                if (first < 1 || last > 80 || first > last) return std::nullopt;
                for (int s = first; s <= last; ++s)
                    slots.insert(s);
            } catch (const std::exception&) {
                if (item != "none") return std::nullopt;
            }
            at = end + 1;
        }
    }
    return slots;
}

std::vector<Ref<CSesElem>> ElementsOf(CSubEnc* subenc, uint8_t type) {
    std::vector<Ref<CSesElem>> out;
    uint8_t index = kNoTypeDescriptor;
    if (FindTypeDescriptor(subenc->dev, subenc, type, index) != kOk) return out;
    for (CSesElem* e : ElementsOfType(subenc, index))
        out.push_back(Ref<CSesElem>::Adopt(e));
    return out;
}

std::vector<Ref<CSesElem>> Slots(CSubEnc* subenc) {
    auto slots = ElementsOf(subenc, kTypeArrayDeviceSlot);
    return slots.empty() ? ElementsOf(subenc, kTypeDeviceSlot) : slots;
}

uint16_t Indicators(CSubEnc* subenc) {
    std::lock_guard lock(subenc->mutex);
    return subenc->indicators;
}

// ---- the commands ------------------------------------------------------------------

// The enclosure as output names it: the host it was reached through, then
// its name ("storage-01/RACK7-SHELF2").
std::string Who(const ActionContext& c, const CSubEnc* subenc) {
    return c.host + "/" + DisplayName(subenc);
}

std::optional<int> SlotNumberOf(const std::string& word) {
    if (word.empty() || word.size() > 3 || !std::all_of(word.begin(), word.end(), ::isdigit))
        return std::nullopt;
    const int number = std::stoi(word);
    return number <= 255 ? std::optional(number) : std::nullopt;
}

std::string DiskSerial(const CSesElem* slot) {
    const char* p = reinterpret_cast<const char*>(&slot->type_data[kDiskSerial]);
    return SanitizedUtf8(std::string(p, strnlen(p, 20)));
}

// The slot the operator means: by the SES device slot number the enclosure
// and `show` report, by position in the group (--index, from 1), or by the
// serial of the disk in it (--serial). Nothing, with the reason, when no slot
// or more than one answers.
CSesElem* ChooseSlot(const ActionContext& c, const std::vector<Ref<CSesElem>>& slots,
                     const std::optional<int>& number, std::string& why) {
    std::vector<CSesElem*> found;
    for (size_t i = 0; i < slots.size(); ++i) {
        CSesElem* slot = slots[i].get();
        const bool valid = slot->data_valid & kDataValid;
        const bool chosen = c.slot_index             ? *c.slot_index == int(i) + 1
                            : !c.disk_serial.empty() ? valid && DiskSerial(slot) == c.disk_serial
                            : !c.disk_sas_address.empty()
                                ? valid && HasDiskSasAddress(slot) &&
                                      Hex(slot->disk_sas_address.data(), 8) == c.disk_sas_address
                                : valid && slot->type_data[kSlotNumber] == *number;
        if (chosen) found.push_back(slot);
    }
    if (found.size() == 1) return found[0];
    if (c.slot_index) {
        why = "--index must be 1 to " + std::to_string(slots.size());
    } else if (!c.disk_serial.empty()) {
        why = found.empty() ? "no disk with serial " + c.disk_serial
                            : "more than one disk has serial " + c.disk_serial;
    } else if (!c.disk_sas_address.empty()) {
        why = found.empty() ? "no disk with SAS address " + c.disk_sas_address
                            : "more than one disk has SAS address " + c.disk_sas_address;
    } else {
        std::string numbers;
        for (const Ref<CSesElem>& slot : slots) {
            if (!(slot->data_valid & kDataValid)) continue;
            numbers += (numbers.empty() ? "" : ",") + std::to_string(slot->type_data[kSlotNumber]);
        }
        why = (found.empty() ? "no slot numbered " : "more than one slot numbered ") +
              std::to_string(*number) + " (the slot numbers are " + numbers + ")";
    }
    return nullptr;
}

int Ident(ActionContext& c, CSubEnc* subenc) {
    const bool by_disk_or_index =
        c.slot_index || !c.disk_serial.empty() || !c.disk_sas_address.empty();
    const size_t words = by_disk_or_index ? 3 : 4;
    const std::string& state = c.words.size() == words ? c.words.back() : std::string();
    if (state != "on" && state != "off") {
        return Usage(
            "usage: ident ENCLOSURE SLOT-NUMBER on|off, or ident ENCLOSURE on|off with "
            "--index N, --serial S or --sas-address A");
    }
    std::optional<int> number;
    if (!by_disk_or_index) {
        number = SlotNumberOf(c.words[2]);
        if (!number) return Usage("a slot number is 0 to 255, not \"" + c.words[2] + "\"");
    }
    std::string why;
    CSesElem* element = ChooseSlot(c, Slots(subenc), number, why);
    if (!element) return Usage(Who(c, subenc) + ": " + why);
    const bool on = state == "on";
    element->pending_request = on ? kRequestIdentifyOn : kRequestIdentifyOff;
    const int result = RunOperation(
        c, [&](OperationCallback cb) { return SendEnclosureControl(subenc->dev, std::move(cb)); });
    if (result < 0) return Failed("identify", result);
    WaitForRereads(c, subenc->dev);
    const bool lit = element->state & kStateIdentifyOn;
    const std::string serial = DiskSerial(element);
    Say(c, Printf("%s: slot %d \"%s\"%s: identification LED is %s", Who(c, subenc).c_str(),
                  element->type_data[kSlotNumber], ElementDescriptor(element).c_str(),
                  serial.empty() ? ", no disk" : (", disk " + serial).c_str(), lit ? "on" : "off"));
    c.report["slot_number"] = element->type_data[kSlotNumber];
    c.report["descriptor"] = ElementDescriptor(element);
    c.report["disk_serial"] = serial;
    c.report["identify"] = lit;
    return lit == on ? 0 : kExitOperationFailed;
}

int Mute(ActionContext& c, CSubEnc* subenc) {
    const int result =
        RunOperation(c, [&](OperationCallback cb) { return MuteBuzzer(subenc, std::move(cb)); });
    if (result < 0) return Failed("mute", result);
    WaitForRereads(c, subenc->dev);
    const bool sounding = Indicators(subenc) & kIndicatorBuzzer;
    Say(c, Printf("%s: buzzer is %s", Who(c, subenc).c_str(), sounding ? "sounding" : "silent"));
    c.report["buzzer"] = sounding;
    return sounding ? kExitOperationFailed : 0;
}

int UidLed(ActionContext& c, CSubEnc* subenc) {
    if (c.words.size() != 3 || (c.words[2] != "on" && c.words[2] != "off")) {
        return Usage("usage: uid-led ENCLOSURE on|off");
    }
    const bool on = c.words[2] == "on";
    const auto set_indicator = [subenc, on] {
        std::lock_guard lock(subenc->mutex);
        subenc->indicators =
            on ? (subenc->indicators | kIndicatorUidLed) : (subenc->indicators & ~kIndicatorUidLed);
    };
    const int result = RunOperation(
        c, [&](OperationCallback cb) { return SetUidLed(subenc, on, std::move(cb)); },
        set_indicator);
    if (result < 0) return Failed("UID LED", result);
    WaitForRereads(c, subenc->dev);
    const bool lit = Indicators(subenc) & kIndicatorUidLed;
    Say(c, Printf("%s: UID LED is %s", Who(c, subenc).c_str(), lit ? "on" : "off"));
    c.report["uid_led"] = lit;
    return lit == on ? 0 : kExitOperationFailed;
}

// Succeeds only when the enclosure, read back, reports the new name. A name
// longer than the enclosure keeps is refused before anything is sent. The
// model is never told a name the enclosure has not reported.
int Rename(ActionContext& c, CSubEnc* subenc) {
    if (c.words.size() != 3 || c.words[2].empty()) return Usage("usage: rename ENCLOSURE NAME");
    const std::string name = c.words[2];
    if (name.size() > kSystemNameBytes) {
        return Usage("the name has " + std::to_string(name.size()) +
                     " bytes; an enclosure keeps at most " + std::to_string(kSystemNameBytes));
    }
    const int result = RunOperation(
        c, [&](OperationCallback cb) { return SetSystemName(subenc, name, std::move(cb)); });
    if (result < 0) return Failed("rename", result);
    if (!WaitForRereads(c, subenc->dev)) {
        std::fprintf(stderr, "halvorinctl: rename: the name could not be read back\n");
        return kExitOperationFailed;
    }
    const std::string reported = SubEncInfo(subenc).system_name;
    if (reported != name) {
        std::fprintf(stderr, "halvorinctl: rename failed: the enclosure reports the name \"%s\"\n",
                     reported.c_str());
        return kExitOperationFailed;
    }
    Say(c, c.host + ": " + Utf16ToUtf8(FormatString(LoadString(20023), {Utf8ToUtf16(reported)})));
    c.report["system_name"] = reported;
    return 0;
}

void PrintZoning(ActionContext& c, CSubEnc* primary) {
    c.report["zones"] = nlohmann::json::array();
    for (const Ref<CSesElem>& zone : ElementsOf(primary, kTypeZoneEntry)) {
        std::string slots;
        nlohmann::json numbers = nlohmann::json::array();
        for (int k = 0; k < kZoneTableSlots; ++k) {
            if (!ZoneHasSlot(zone->type_data, k)) continue;
            slots += (slots.empty() ? "" : ",") + std::to_string(k + 1);
            numbers.push_back(k + 1);
        }
        Say(c,
            Printf("port %d: %s", zone->element_index + 1, slots.empty() ? "none" : slots.c_str()));
        c.report["zones"].push_back({{"port", zone->element_index + 1}, {"slots", numbers}});
    }
}

int Zoning(ActionContext& c, CSubEnc* subenc) {
    Ref<CSubEnc> primary = Ref<CSubEnc>::Adopt(AcquireSubEnc(subenc->dev, 0));
    if (!primary || ElementsOf(primary.get(), kTypeZoneEntry).empty()) {
        std::fprintf(stderr, "halvorinctl: %s has no SAS zoning\n", Who(c, subenc).c_str());
        return kExitOperationFailed;
    }
    if (c.words.size() == 3 && c.words[2] == "show") {
        Say(c, Who(c, subenc) + ": zoning");
        PrintZoning(c, primary.get());
        return 0;
    }
    // "set PORT SLOTS... [set PORT SLOTS...]" edits, then applies; "apply" resends the table as
    // read.
    auto zones = ElementsOf(primary.get(), kTypeZoneEntry);
    size_t at = 2;
    while (at < c.words.size() && c.words[at] == "set") {
        size_t end = at + 2;
        while (end < c.words.size() && c.words[end] != "set")
            ++end;
        const int port = at + 1 < c.words.size() ? std::atoi(c.words[at + 1].c_str()) : 0;
        auto slots = ParseSlots(std::vector<std::string>(c.words.begin() + std::min(at + 2, end),
                                                         c.words.begin() + end));
        if (port < 1 || port > static_cast<int>(zones.size()) || !slots) {
            return Usage(
                "usage: zoning ENCLOSURE show | set PORT SLOTS... [set PORT SLOTS...] | apply");
        }
        auto& data = zones[port - 1]->type_data;
        std::fill_n(data.begin(), 10, 0);
        for (int s : *slots)
            SetZoneSlot(data, s - 1, true);
        at = end;
    }
    if (at != c.words.size() && !(at == 2 && c.words.size() == 3 && c.words[2] == "apply")) {
        return Usage(
            "usage: zoning ENCLOSURE show | set PORT SLOTS... [set PORT SLOTS...] | apply");
    }
    const int result =
        RunOperation(c, [&](OperationCallback cb) { return ApplyZoning(subenc, std::move(cb)); });
    if (result < 0) return Failed("zoning", result);
    ReadBack(c, subenc->dev, kReadZones);  // the enclosure's own table, not ours
    Say(c, Who(c, subenc) + ": zoning applied");
    PrintZoning(c, primary.get());
    return 0;
}

// Follows a device through a restart of its enclosure: `look` sees the
// device at every poll step (nullptr while it is gone from its host) until it
// returns true. The device list, normally asked for once a minute, is asked
// for every few seconds meanwhile. False when the time (two minutes, or
// --timeout when given) ran out or we were interrupted.
bool FollowDevice(ActionContext& c, CSesDomain* domain, const DeviceId& id,
                  const std::function<bool(CSesDev*)>& look) {
    const int limit = c.timeout_given ? c.timeout_s : kRestartFollowSeconds;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limit);
    while (std::chrono::steady_clock::now() < deadline && !c.session.interrupted()) {
        c.session.Poll();
        Ref<CSesDev> device = Ref<CSesDev>::Adopt(AcquireDevice(domain, id));
        if (look(device.get())) return true;
        domain->last_full_refresh =
            std::min(domain->last_full_refresh, domain->clock.NowSeconds() - 55);
        c.session.WaitForNextStep();
    }
    return false;
}

// Follows a restarting enclosure: gone from the device list, then back.
bool FollowRestart(ActionContext& c, const DeviceId& id, CSesDomain* domain) {
    bool vanished = false;
    return FollowDevice(c, domain, id, [&](CSesDev* device) {
        if (!device && !vanished) {
            vanished = true;
            Say(c, "device gone from its host");
        }
        if (!device || !vanished || !(device->Flags() & kDeviceReady)) return false;
        Say(c, "device back and read");
        return true;
    });
}

int Command(ActionContext& c, CSubEnc* subenc, uint8_t command) {
    const bool restart = command == kRestartCommand;
    const std::string name = Who(c, subenc);
    const std::string question = Utf16ToUtf8(LoadString(restart ? 126 : 125));
    if (!Confirm(c,
                 name + ": " +
                     (question.empty() ? (restart ? "restart the device?" : "shut the device down?")
                                       : question))) {
        return kExitUsage;
    }
    const DeviceId id = subenc->dev->Identifier();
    CSesDomain* domain = subenc->dev->domain;
    const int result = RunOperation(c, [&](OperationCallback cb) {
        return SendEnclosureCommand(subenc, command, std::move(cb));
    });
    if (result < 0) return Failed(restart ? "restart" : "shutdown", result);
    Say(c, name + ": " + (restart ? "restarting" : "shutting down"));
    std::fflush(stdout);
    if (!restart) return 0;
    return FollowRestart(c, id, domain) ? 0 : kExitOperationFailed;
}

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
    const int started = StartFirmwareUpgrade(subenc, std::move(*firmware));
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

namespace {

bool NameMatches(CSubEnc* subenc, const std::string& name) {
    const SubEncSummary info = SubEncInfo(subenc);
    return DisplayName(subenc) == name || (!info.system_name.empty() && info.system_name == name) ||
           EqualsIgnoringCase(Hex(info.logical_id.data(), 8), name);
}

}  // namespace

EnclosureMatch FindEnclosure(ManagerSession& session, const std::string& name) {
    // "HOST/NAME" when HOST is one of ours; a name may hold a slash itself.
    std::string wanted_host, wanted = name;
    if (const size_t slash = name.find('/'); slash != std::string::npos) {
        const std::string host = name.substr(0, slash);
        const auto& hosts = session.hosts();
        if (std::find(hosts.begin(), hosts.end(), host) != hosts.end()) {
            wanted_host = host;
            wanted = name.substr(slash + 1);
        }
    }
    EnclosureMatch match;
    for (size_t i = 0; i < session.domains().size(); ++i) {
        CSesDomain* domain = session.domains()[i];
        const std::string& host = session.hosts()[i];
        if (!domain || (!wanted_host.empty() && host != wanted_host)) continue;
        std::vector<CSubEnc*> all = CollectSubEnclosures(domain);
        for (CSubEnc* s : all) {
            if (!NameMatches(s, wanted)) continue;
            match.candidates.push_back(host + "/" + DisplayName(s) + " (" +
                                       Hex(SubEncInfo(s).logical_id.data(), 8) + ")");
            if (match.candidates.size() == 1) {
                RetainSubEnc(s);
                match.subenc = Ref<CSubEnc>::Adopt(s);
                match.host = host;
            }
        }
        ReleaseSubEnclosures(all);
    }
    if (match.candidates.size() > 1) match.subenc.reset();
    return match;
}

int ReportNotFound(const EnclosureMatch& match, const std::string& name,
                   const std::vector<HostStatus>& statuses) {
    if (match.candidates.size() > 1) {
        std::fprintf(stderr,
                     "halvorinctl: \"%s\" names more than one enclosure; name one as HOST/NAME:\n",
                     name.c_str());
        for (const std::string& candidate : match.candidates)
            std::fprintf(stderr, "  %s\n", candidate.c_str());
        return kExitUnreachable;
    }
    for (const HostStatus& s : statuses) {
        if (s.outcome != HostOutcome::kReady)
            std::fprintf(stderr, "halvorinctl: %s: %s\n", s.host.c_str(), OutcomeName(s.outcome));
    }
    std::fprintf(stderr, "halvorinctl: no enclosure named \"%s\"\n", name.c_str());
    return kExitUnreachable;
}

bool IsActionCommand(const std::string& command) {
    static const std::set<std::string> commands = {"ident",  "mute",    "uid-led",  "rename",
                                                   "zoning", "restart", "shutdown", "upgrade"};
    return commands.count(command) > 0;
}

namespace {

int RunOnEnclosure(ActionContext& c) {
    if (c.words.size() < 2) return Usage(c.words[0] + " needs an ENCLOSURE");
    const auto statuses = c.session.WaitUntilRead(std::chrono::seconds(c.timeout_s));
    const EnclosureMatch match = FindEnclosure(c.session, c.words[1]);
    if (!match.subenc) return ReportNotFound(match, c.words[1], statuses);
    Ref<CSubEnc> subenc = match.subenc;
    c.host = match.host;
    c.report["host"] = c.host;
    c.report["enclosure"] = DisplayName(subenc.get());
    c.report["enclosure_wwn"] = Hex(subenc->logical_id.data(), subenc->logical_id.size());
    const std::string& command = c.words[0];
    if (command == "ident") return Ident(c, subenc.get());
    if (command == "mute") return Mute(c, subenc.get());
    if (command == "uid-led") return UidLed(c, subenc.get());
    if (command == "rename") return Rename(c, subenc.get());
    if (command == "zoning") return Zoning(c, subenc.get());
    if (command == "restart") return Command(c, subenc.get(), kRestartCommand);
    if (command == "shutdown") return Command(c, subenc.get(), kShutdownCommand);
    if (command == "upgrade") return UpgradeFirmware(c, subenc.get());
    return Usage("unknown command '" + command + "'");
}

}  // namespace

// With --json the action's one report goes to standard output whatever the
// outcome, so a script reads the exit status and the report together.
int RunAction(ActionContext& c) {
    const int code = RunOnEnclosure(c);
    if (!c.json) return code;
    nlohmann::json report = c.report;
    report["format_version"] = kJsonFormatVersion;
    const int64_t now = SystemClock().NowSeconds();
    report["time"] = Rfc3339Utc(now);
    report["epoch"] = now;
    report["command"] = c.words[0];
    report["arguments"] = std::vector<std::string>(c.words.begin() + 1, c.words.end());
    report["ok"] = code == 0;
    report["exit_status"] = code;
    if (!report.contains("messages")) report["messages"] = nlohmann::json::array();
    std::printf("%s\n", report.dump(2).c_str());
    return code;
}

}  // namespace halvorin::ctl
