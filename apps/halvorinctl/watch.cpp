#include "apps/halvorinctl/watch.h"
#include "apps/halvorinctl/command.h"
#include "apps/halvorinctl/stop_signal.h"

#include <ctime>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "apps/halvorinctl/enclosure_report.h"
#include "base/clock.h"
#include "base/result_code.h"
#include "base/string_table.h"
#include "base/text_format.h"
#include "base/utf16.h"
#include "enclosure/model/element_naming.h"
#include "enclosure/model/element_types.h"
#include "enclosure/pages/status_element.h"
#include "enclosure/poll/enclosure_presence.h"
#include "enclosure/poll/poll_step.h"
#include "enclosure/poll/status_event.h"

namespace halvorin::ctl {

using nlohmann::json;

namespace {

const char* LevelName(int level) {
    switch (level) {
        case 0:
            return "information";
        case 1:
            return "warning";
        case 2:
            return "error";
        default:
            return "unknown";
    }
}

void PrintLine(const WatchOptions& options, int64_t now, const json& fields, int level,
               const std::string& source, const std::string& message) {
    if (options.json) {
        json line = fields;
        line["format_version"] = kJsonFormatVersion;
        line["time"] = Rfc3339Utc(now);
        line["epoch"] = now;
        line["level"] = level;
        line["level_name"] = LevelName(level);
        line["source"] = source;
        line["message"] = message;
        std::printf("%s\n", line.dump().c_str());
    } else {
        std::printf("%s  %-11s  %s  %s\n", EventTime(now).c_str(), LevelName(level), source.c_str(),
                    message.c_str());
    }
    std::fflush(stdout);
}

// What a script needs to act on an event without parsing its message.
json EventFields(const CSesElem* element, uint32_t bit) {
    const CSubEnc* subenc = element->subenc;
    json fields = {{"type", "event"},
                   {"host", Utf16ToUtf8(subenc->dev->domain->host_name)},
                   {"enclosure", DisplayName(subenc)},
                   {"enclosure_wwn", Hex(subenc->logical_id.data(), subenc->logical_id.size())},
                   {"element_type", element->type},
                   {"element_index", element->element_index},
                   {"element", Utf16ToUtf8(ElementName(element))},
                   {"condition", StateName(bit)}};
    const bool slot = element->type == kTypeDeviceSlot || element->type == kTypeArrayDeviceSlot;
    if (slot && (element->data_valid & kDataValid))
        fields["slot_number"] = element->type_data[kSlotNumber];
    return fields;
}

struct Watcher {
    const WatchOptions* options;
    Clock* clock;

    static void OnStatusEvent(CSesElem* element, uint32_t bit, void* context) {
        auto* self = static_cast<Watcher*>(context);
        auto event = DescribeStatusEvent(element, bit);
        if (!event) return;
        const int64_t now = self->clock->NowSeconds();
        PrintLine(*self->options, now, EventFields(element, bit), event->level,
                  Utf16ToUtf8(event->source), Utf16ToUtf8(event->text));
    }
};

// Says when a host's connection is lost (or the host cannot be reached in
// the first place) and when it is back, and, while it answers, when one of
// its enclosures is gone from it and back; the client keeps its own
// reconnect schedule meanwhile.
class HostWatch {
  public:
    explicit HostWatch(size_t count) : hosts_(count) {}

    void Follow(size_t index, const std::string& host, CSesDomain& domain,
                const WatchOptions& options, Clock& clock) {
        FollowConnection(hosts_[index], host, domain.client, options, clock);
        if (domain.client.state() == kStateReady)
            FollowEnclosures(hosts_[index], host, domain, options, clock);
    }

  private:
    enum State { kNotYet, kUp, kDown };
    struct Host {
        State state = kNotYet;
        EnclosurePresence enclosures;
    };

    static void FollowConnection(Host& h, const std::string& host, const CSesClient& client,
                                 const WatchOptions& options, Clock& clock) {
        const bool ready = client.state() == kStateReady;
        const int failure =
            client.last_hello_result() == kHelloRefused ? kHelloRefused : client.last_failure();
        if (ready && h.state != kUp) {
            if (h.state == kDown)
                Say(options, clock, host, "back", 0, "Connection to " + host + " is back.", 0);
            h.state = kUp;
        } else if (!ready && failure != 0 && h.state != kDown) {
            const std::string reason(ResultCodeName(failure));
            const std::string message =
                h.state == kUp
                    ? "Lost the connection to " + host + " (" + reason + "); trying again."
                    : "Cannot reach " + host + " (" + reason + "); trying again.";
            Say(options, clock, host, "lost", 2, message, failure);
            h.state = kDown;
        }
    }

    // Strings 321 and 322, as the desktop's event list words them.
    static void FollowEnclosures(Host& h, const std::string& host, CSesDomain& domain,
                                 const WatchOptions& options, Clock& clock) {
        std::vector<CSubEnc*> shown;
        const std::vector<Ref<CSubEnc>> held = CollectSubEnclosures(&domain);
        for (const Ref<CSubEnc>& subenc : held)
            shown.push_back(subenc.get());
        for (const EnclosureChange& change : h.enclosures.Follow(shown)) {
            const bool back = change.kind == EnclosureChange::Kind::kBack;
            const std::string name = Utf16ToUtf8(change.name);
            const std::u16string text =
                FormatString(LoadString(back ? 322 : 321), {change.name, Utf8ToUtf16(host)});
            json fields = {{"type", "enclosure"},
                           {"host", host},
                           {"enclosure", name},
                           {"enclosure_wwn", change.wwn},
                           {"state", back ? "back" : "gone"}};
            PrintLine(options, clock.NowSeconds(), fields, back ? 0 : 1, name, Utf16ToUtf8(text));
        }
    }

    static void Say(const WatchOptions& options, Clock& clock, const std::string& host,
                    const char* what, int level, const std::string& message, int failure) {
        json fields = {{"type", "host"}, {"host", host}, {"state", what}};
        if (failure != 0) {
            fields["reason"] = std::string(ResultCodeName(failure));
            fields["reason_code"] = failure;
        }
        PrintLine(options, clock.NowSeconds(), fields, level, host, message);
    }

    std::vector<Host> hosts_;
};

// The last reading printed per element, by a key that outlives the objects.
using ReadingKey = std::tuple<CSesDomain*, DeviceId, uint8_t, uint8_t, uint8_t>;

void PrintNewReadings(ManagerSession& session, const WatchOptions& options, Clock& clock,
                      std::map<ReadingKey, std::pair<int32_t, int16_t>>& seen) {
    for (CSesDomain* domain : session.domains()) {
        if (!domain) continue;
        for (const Ref<CSubEnc>& held : CollectSubEnclosures(domain)) {
            CSubEnc* subenc = held.get();
            const CSesDev* device = subenc->dev;
            for (size_t tdi = 0; tdi < device->type_descs.size(); ++tdi) {
                if (device->type_descs[tdi].subenc != subenc ||
                    !HasHistory(device->type_descs[tdi].type))
                    continue;
                for (const Ref<CSesElem>& e : ElementsOfType(subenc, static_cast<uint8_t>(tdi))) {
                    int16_t value = 0;
                    int32_t updates = 0;
                    if (ReadHistory(*e, std::span(&value, 1), &updates) != 1) continue;
                    ReadingKey key{domain, device->Identifier(), subenc->id, e->type_desc_index,
                                   e->element_index};
                    auto [it, first] = seen.try_emplace(key, updates, value);
                    if (!first && (it->second.first == updates || it->second.second == value)) {
                        it->second.first = updates;
                        continue;
                    }
                    it->second = {updates, value};
                    const double scale =
                        e->type == kTypeVoltage || e->type == kTypeCurrent ? 0.01 : 1;
                    const char* unit = e->type == kTypeCooling       ? "rpm"
                                       : e->type == kTypeTemperature ? "C"
                                       : e->type == kTypeVoltage     ? "V"
                                                                     : "A";
                    const int64_t now = clock.NowSeconds();
                    if (options.json) {
                        json line = {{"format_version", kJsonFormatVersion},
                                     {"type", "reading"},
                                     {"time", Rfc3339Utc(now)},
                                     {"epoch", now},
                                     {"host", Utf16ToUtf8(domain->host_name)},
                                     {"enclosure", DisplayName(subenc)},
                                     {"element", Utf16ToUtf8(ElementName(e.get()))},
                                     {"value", value * scale},
                                     {"unit", unit}};
                        std::printf("%s\n", line.dump().c_str());
                    } else {
                        std::printf("%s  reading      %s  %s: %g %s\n", EventTime(now).c_str(),
                                    DisplayName(subenc).c_str(),
                                    Utf16ToUtf8(ElementName(e.get())).c_str(), value * scale, unit);
                    }
                }
            }
        }
    }
    std::fflush(stdout);
}

}  // namespace

std::string EventTime(int64_t seconds) {
    std::time_t t = seconds;
    std::tm local{};
    localtime_r(&t, &local);
    std::time_t now = std::time(nullptr);
    std::tm today{};
    localtime_r(&now, &today);
    const bool this_year = local.tm_year == today.tm_year;
    const std::u16string text =
        this_year ? FormatString(LoadString(111), {int64_t{local.tm_mon + 1},
                                                   int64_t{local.tm_mday}, int64_t{local.tm_hour},
                                                   int64_t{local.tm_min}, int64_t{local.tm_sec}})
                  : FormatString(LoadString(110),
                                 {int64_t{local.tm_year + 1900}, int64_t{local.tm_mon + 1},
                                  int64_t{local.tm_mday}, int64_t{local.tm_hour},
                                  int64_t{local.tm_min}, int64_t{local.tm_sec}});
    return Utf16ToUtf8(text);
}

void RunWatch(ManagerSession& session, const WatchOptions& options, const std::atomic<bool>& stop) {
    Watcher watcher{&options, session.registry().options().clock};
    SetStatusEventHook(&Watcher::OnStatusEvent, &watcher);
    std::map<ReadingKey, std::pair<int32_t, int16_t>> seen;
    HostWatch hosts(session.domains().size());
    while (!stop) {
        session.Poll();
        for (size_t i = 0; i < session.domains().size(); ++i) {
            if (CSesDomain* domain = session.domains()[i])
                hosts.Follow(i, session.hosts()[i], *domain, options, *watcher.clock);
        }
        if (options.readings) PrintNewReadings(session, options, *watcher.clock, seen);
        // A host that went away is asked again every few seconds, so an agent
        // that restarts is back within seconds, not after the client's 100 s.
        session.RetryUnreachable();
        session.WaitForNextStep();
    }
    SetStatusEventHook(nullptr, nullptr);
}

extern const Command kCommandWatch = {
    "watch",
    "  watch [--json] [--readings]   print status events as they happen (and readings)\n",
    {kOptJson, kOptReadings},
    TakesNoWords,
    [](ManagerSession& session, const CommandLine& line) {
        RunWatch(session, WatchOptions{line.json, line.readings}, StopRequested());
        return kExitOk;
    },
};

}  // namespace halvorin::ctl
