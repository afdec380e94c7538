#include "apps/halvorinctl/action_support.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>

#include "apps/halvorinctl/enclosure_report.h"
#include "apps/halvorinctl/stop_signal.h"
#include "base/clock.h"
#include "base/result_code.h"
#include "base/utf16.h"
#include "enclosure/model/display_name.h"
#include "enclosure/model/element_types.h"
#include "enclosure/pages/request_kind.h"
#include "enclosure/poll/read_chain.h"

namespace halvorin::ctl {

namespace {

// The end of an operation. Its callback owns it: with a --timeout shorter
// than the operation's own, the callback runs after we stopped waiting (at
// the latest when the session ends).
struct Outcome {
    bool done = false;
    int result = 0;
};

bool NameMatches(CSubEnc* subenc, const std::string& name) {
    const SubEncSummary info = SubEncInfo(subenc);
    return DisplayName(subenc) == name || (!info.system_name.empty() && info.system_name == name) ||
           EqualsIgnoringCase(Hex(info.logical_id.data(), 8), name);
}

}  // namespace

void Say(ActionContext& c, const std::string& line) {
    if (c.json) {
        c.report["messages"].push_back(line);
        return;
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

std::string Printf(const char* format, ...) {
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

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

bool PollUntil(ManagerSession& session, const std::function<bool()>& done, int timeout_s) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    while (!done() && std::chrono::steady_clock::now() < deadline && !session.interrupted())
        session.WaitForNextStep();
    return done();
}

int RunOperation(ActionContext& c, const std::function<int(OperationCallback)>& start) {
    auto outcome = std::make_shared<Outcome>();
    const int sent = start([outcome](int result) {
        outcome->result = result;
        outcome->done = true;
    });
    if (sent < 0) return sent;
    if (!PollUntil(
            c.session, [&] { return outcome->done; }, c.timeout_s))
        return kTimedOut;
    return outcome->result;
}

int RunOperation(ActionContext& c, OperatorAction action, std::vector<std::u16string> subjects,
                 const std::function<int(OperationCallback)>& start) {
    const int result = RunOperation(c, start);
    RecordOutcome(c, action, std::move(subjects), result);
    return result;
}

void RecordOutcome(ActionContext& c, OperatorAction action, std::vector<std::u16string> subjects,
                   int result) {
    const ActionEvent event = ActionOutcome(action, std::move(subjects), result);
    static constexpr const char* kLevels[] = {"information", "warning", "error"};
    c.report["event"] = {{"level", kLevels[event.level]},
                         {"message_id", event.message_id},
                         {"text", Utf16ToUtf8(event.Text())}};
}

bool WaitForRereads(ActionContext& c, CSesDev* device) {
    return PollUntil(
        c.session, [&] { return device->domain->client.quiet(); }, c.timeout_s);
}

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

std::vector<Ref<CSesElem>> ElementsOf(CSubEnc* subenc, uint8_t type) {
    uint8_t index = kNoTypeDescriptor;
    if (FindTypeDescriptor(subenc->dev, subenc, type, index) != kOk) return {};
    return ElementsOfType(subenc, index);
}

std::vector<Ref<CSesElem>> Slots(CSubEnc* subenc) {
    auto slots = ElementsOf(subenc, kTypeArrayDeviceSlot);
    return slots.empty() ? ElementsOf(subenc, kTypeDeviceSlot) : slots;
}

uint16_t Indicators(CSubEnc* subenc) {
    std::lock_guard lock(subenc->mutex);
    return subenc->indicators;
}

std::string Who(const ActionContext& c, const CSubEnc* subenc) {
    return c.host + "/" + DisplayName(subenc);
}

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
        for (const Ref<CSubEnc>& s : CollectSubEnclosures(domain)) {
            if (!NameMatches(s.get(), wanted)) continue;
            match.candidates.push_back(host + "/" + DisplayName(s.get()) + " (" +
                                       Hex(SubEncInfo(s.get()).logical_id.data(), 8) + ")");
            if (match.candidates.size() == 1) {
                match.subenc = s;
                match.host = host;
            }
        }
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

std::string NeedsEnclosure(const CommandLine& line) {
    return line.words.size() < 2 ? line.words[0] + " needs an ENCLOSURE" : "";
}

int RunAction(ManagerSession& session, const CommandLine& line, Action action) {
    ActionContext c{session,         line.words,      line.yes, line.timeout_s, line.timeout_given,
                    line.slot_index, line.disk_serial};
    c.disk_sas_address = line.disk_sas_address;
    c.activation_wait_s = line.activation_wait_s;
    c.json = line.json;
    const int code = [&] {
        const auto statuses = session.WaitUntilRead(std::chrono::seconds(c.timeout_s));
        const EnclosureMatch match = FindEnclosure(session, c.words[1]);
        if (!match.subenc) return ReportNotFound(match, c.words[1], statuses);
        c.host = match.host;
        c.report["host"] = c.host;
        c.report["enclosure"] = DisplayName(match.subenc.get());
        c.report["enclosure_wwn"] =
            Hex(match.subenc->logical_id.data(), match.subenc->logical_id.size());
        return action(c, match.subenc.get());
    }();
    if (!c.json) return code;
    // The one report goes to standard output whatever the outcome, so a
    // script reads the exit status and the report together.
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
