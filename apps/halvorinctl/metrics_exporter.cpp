#include "apps/halvorinctl/metrics_exporter.h"

#include <cstring>

#include "apps/halvorinctl/enclosure_report.h"
#include "base/utf16.h"
#include "enclosure/model/display_name.h"
#include "enclosure/model/element_condition.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/ses_dev.h"
#include "enclosure/model/ses_domain.h"
#include "enclosure/pages/status_element.h"
#include "enclosure/poll/status_event.h"

namespace halvorin::ctl {

namespace {

// The families in the order they are written.
enum Family : size_t {
    kBuildInfo,
    kAgentReachable,
    kConnectFailures,
    kStatusEvents,
    kDevices,
    kEnclosures,
    kDeviceReady,
    kEnclosureInfo,
    kFirmwareInfo,
    kUidLed,
    kBuzzer,
    kElements,
    kFailedElements,
    kStatusCode,
    kElementFailed,
    kFirstSensor,  // each sensor kind: its reading, then its four thresholds
    kLastRead = kFirstSensor + 4 * 5,
    kFamilyCount
};

constexpr const char* kThresholdKinds[4] = {"high_critical", "high_warning", "low_warning",
                                            "low_critical"};

struct SensorKind {
    uint8_t type;
    const char* base;
    const char* unit;
    const char* quantity;
};
constexpr SensorKind kSensors[4] = {
    {kTypeCooling, "halvorin_fan_speed", "rpm", "Fan speed"},
    {kTypeTemperature, "halvorin_temperature", "celsius", "Temperature"},
    {kTypeVoltage, "halvorin_voltage", "volts", "Voltage"},
    {kTypeCurrent, "halvorin_current", "amperes", "Current"}};

std::vector<FamilyInfo> MakeFamilies() {
    std::vector<FamilyInfo> f(kFamilyCount);
    f[kBuildInfo] = {"halvorin_exporter_build_info", "The exporter's version; always 1"};
    f[kAgentReachable] = {"halvorin_agent_reachable",
                          "1 while the host's agent accepts this manager"};
    f[kConnectFailures] = {"halvorin_agent_connect_failures_total",
                           "Times the host's agent could not be reached or refused this manager",
                           MetricKind::kCounter};
    f[kStatusEvents] = {"halvorin_status_events_total", "Status events raised, by level",
                        MetricKind::kCounter};
    f[kDevices] = {"halvorin_devices", "SES devices the host's agent reports"};
    f[kEnclosures] = {"halvorin_enclosures", "Enclosures read on the host"};
    f[kDeviceReady] = {"halvorin_device_ready", "1 when the SES device has been read"};
    f[kEnclosureInfo] = {"halvorin_enclosure_info",
                         "The enclosure's display name (system name, or product and WWN); "
                         "always 1"};
    f[kFirmwareInfo] = {"halvorin_firmware_info",
                        "Firmware revision, vendor and product of the enclosure; always 1"};
    f[kUidLed] = {"halvorin_uid_led_on", "1 while the system identification LED is on"};
    f[kBuzzer] = {"halvorin_buzzer_sounding", "1 while the buzzer sounds"};
    f[kElements] = {"halvorin_elements", "Number of elements of a type"};
    f[kFailedElements] = {"halvorin_failed_elements", "Number of failed elements of a type"};
    f[kStatusCode] = {"halvorin_element_status_code",
                      "SES status code of an element that is not OK (0 unsupported, 1 OK, "
                      "2 critical, 3 noncritical, 4 unrecoverable, 5 not installed, 6 unknown, "
                      "7 not available, 8 no access)"};
    f[kElementFailed] = {"halvorin_element_failed",
                         "1 when the element is in fault: its FAIL bit, a failure or "
                         "critical-threshold bit, or the status code critical or unrecoverable"};
    for (size_t s = 0; s < 4; ++s) {
        const SensorKind& k = kSensors[s];
        f[kFirstSensor + s * 5] = {std::string(k.base) + "_" + k.unit,
                                   std::string(k.quantity) + " last read"};
        for (size_t t = 0; t < 4; ++t)
            f[kFirstSensor + s * 5 + 1 + t] = {
                std::string(k.base) + "_" + kThresholdKinds[t] + "_threshold_" + k.unit,
                std::string(k.quantity) + " " + kThresholdKinds[t] + " threshold"};
    }
    f[kLastRead] = {"halvorin_enclosure_last_read_timestamp_seconds",
                    "When the enclosure's status was last read (Unix time); it stays after the "
                    "enclosure is gone"};
    return f;
}

const std::vector<FamilyInfo>& Families() {
    static const std::vector<FamilyInfo> families = MakeFamilies();
    return families;
}

std::optional<size_t> SensorFamily(uint8_t type) {
    for (size_t s = 0; s < 4; ++s)
        if (kSensors[s].type == type) return kFirstSensor + s * 5;
    return std::nullopt;
}

const char* LevelName(int level) {
    return level == 0 ? "information" : level == 1 ? "warning" : "error";
}

// Zoning, expander and port entries are the program's own records, with no
// SES status of their own.
bool HasStatus(uint8_t type) {
    return type != kTypeZoneEntry && type != kTypeExpanderEntry && type != kTypePortEntry;
}

constexpr uint8_t kStatusOk = 1;

bool IsOk(const CSesElem& e) {
    return (e.raw_status[0] & 0x0F) == kStatusOk && !IsFault(e);
}

template <typename T>
void AppendBytes(std::string& out, const T& value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// What an enclosure's text shows, as bytes, so a scrape can tell whether
// the text it kept still holds.
std::string Fingerprint(const SubEncSummary& info, const std::string& display_name,
                        CSubEnc* subenc) {
    std::string key = display_name + '\0' + info.vendor + '\0' + info.product + '\0' +
                      info.firmware_revision + '\0';
    AppendBytes(key, info.indicators);
    const CSesDev* device = subenc->dev;
    for (size_t tdi = 0; tdi < device->type_descs.size(); ++tdi) {
        const ELEM_TYPE_DESC& d = device->type_descs[tdi];
        if (d.subenc != subenc || !HasStatus(d.type)) continue;
        AppendBytes(key, tdi);
        for (const Ref<CSesElem>& e : ElementsOfType(subenc, static_cast<uint8_t>(tdi))) {
            const std::u16string name = ElementName(e.get());
            key.append(reinterpret_cast<const char*>(name.data()), name.size() * 2);
            AppendBytes(key, e->raw_status);
            AppendBytes(key, e->thresholds);
            AppendBytes(key, e->thresholds_set);
            int16_t last = 0;
            int32_t updates = 0;
            AppendBytes(key, ReadHistory(*e, std::span(&last, 1), &updates) == 1);
            AppendBytes(key, last);
        }
    }
    return key;
}

void AddElement(SampleText& out, const LabelText& enclosure, const std::string& type,
                const CSesElem& e, bool all_elements) {
    const std::optional<size_t> sensor = SensorFamily(e.type);
    const bool listed = all_elements || !IsOk(e);
    if (!listed && !sensor) return;
    LabelText labels = enclosure;
    labels.Add("element", Utf16ToUtf8(ElementName(&e))).Add("type", type);
    if (listed) {
        out.Add(kStatusCode, labels, e.raw_status[0] & 0x0F);
        out.Add(kElementFailed, labels, IsFault(e));
    }
    const std::optional<Unit> unit = UnitOf(e.type);
    if (!sensor || !unit) return;
    int16_t last = 0;
    int32_t updates = 0;
    if (ReadHistory(e, std::span(&last, 1), &updates) == 1)
        out.Add(*sensor, labels, last * unit->scale);
    for (size_t k = 0; k < 4; ++k)
        if (HasThreshold(e, k)) out.Add(*sensor + 1 + k, labels, e.thresholds[k] * unit->scale);
}

void WriteEnclosure(SampleText& out, const LabelText& labels, const SubEncSummary& info,
                    const std::string& display_name, CSubEnc* subenc, bool all_elements) {
    out.Add(kEnclosureInfo, LabelText(labels).Add("name", display_name), 1);
    out.Add(kFirmwareInfo,
            LabelText(labels)
                .Add("revision", info.firmware_revision)
                .Add("vendor", info.vendor)
                .Add("product", info.product),
            1);
    out.Add(kUidLed, labels, (info.indicators & kIndicatorUidLed) != 0);
    out.Add(kBuzzer, labels, (info.indicators & kIndicatorBuzzer) != 0);
    struct Counts {
        int elements = 0, failed = 0;
    };
    std::map<std::string, Counts> by_type;
    const CSesDev* device = subenc->dev;
    for (size_t tdi = 0; tdi < device->type_descs.size(); ++tdi) {
        const ELEM_TYPE_DESC& d = device->type_descs[tdi];
        if (d.subenc != subenc || !HasStatus(d.type)) continue;
        const std::string type = GroupTitle(d);
        Counts& counts = by_type[type];
        for (const Ref<CSesElem>& e : ElementsOfType(subenc, static_cast<uint8_t>(tdi))) {
            AddElement(out, labels, type, *e, all_elements);
            counts.elements += 1;
            counts.failed += IsFault(*e);
        }
    }
    for (const auto& [type, counts] : by_type) {
        const LabelText typed = LabelText(labels).Add("type", type);
        out.Add(kElements, typed, counts.elements);
        out.Add(kFailedElements, typed, counts.failed);
    }
}

void CountStatusEvent(CSesElem* element, uint32_t bit, void* context) {
    auto event = DescribeStatusEvent(element, bit);
    if (!event) return;
    auto& counters = *static_cast<MetricCounters*>(context);
    const std::string host = Utf16ToUtf8(element->subenc->dev->domain->host_name);
    counters.status_events[{host, event->level}] += 1;
}

}  // namespace

MetricsExporter::MetricsExporter(ManagerSession& session, MetricsOptions options)
    : session_(session), options_(options), was_down_(session.hosts().size(), false) {
    SetStatusEventHook(&CountStatusEvent, &counters_);
}

MetricsExporter::~MetricsExporter() {
    SetStatusEventHook(nullptr, nullptr);
}

void MetricsExporter::NoteStep() {
    for (size_t i = 0; i < session_.domains().size(); ++i) {
        const CSesDomain* domain = session_.domains()[i];
        // Not reachable yet is no failure; a refused hello or a failed
        // connection is.
        const bool down =
            !domain ||
            (domain->client.state() != kStateReady &&
             (domain->client.last_hello_result() < 0 || domain->client.last_failure() != 0));
        if (down && !was_down_[i]) counters_.connect_failures[session_.hosts()[i]] += 1;
        was_down_[i] = down;
    }
}

void MetricsExporter::AddHost(size_t index, SampleText& host_part,
                              std::vector<const SampleText*>& parts,
                              std::map<std::string, KeptEnclosure>& kept) {
    const std::string& host = session_.hosts()[index];
    CSesDomain* domain = session_.domains()[index];
    const LabelText host_label = LabelText().Add("host", host);
    host_part.Add(kAgentReachable, host_label, domain && domain->client.state() == kStateReady);
    host_part.Add(kConnectFailures, host_label, counters_.connect_failures[host]);
    for (int level = 0; level <= 2; ++level)
        host_part.Add(kStatusEvents, LabelText(host_label).Add("level", LevelName(level)),
                      counters_.status_events[{host, level}]);
    const auto devices = domain ? SnapshotDevices(domain) : std::vector<Ref<CSesDev>>{};
    const auto subencs = domain ? CollectSubEnclosures(domain) : std::vector<Ref<CSubEnc>>{};
    host_part.Add(kDevices, host_label, double(devices.size()));
    host_part.Add(kEnclosures, host_label, double(subencs.size()));
    for (const Ref<CSesDev>& device : devices)
        host_part.Add(kDeviceReady,
                      LabelText(host_label).Add("device", Hex(device->Identifier().data(), 8)),
                      (device->Flags() & kDeviceReady) != 0);
    std::map<std::string, int> occurrences;
    for (const Ref<CSubEnc>& held : subencs) {
        CSubEnc* subenc = held.get();
        const SubEncSummary info = SubEncInfo(subenc);
        const std::string wwn = Hex(info.logical_id.data(), 8);
        const std::string display_name = Utf16ToUtf8(EnclosureDisplayName(info));
        if (subenc->dev->last_read_time > 0)
            counters_.last_read[{host, wwn}] = double(subenc->dev->last_read_time);
        // The same enclosure seen twice through one host (two paths) is one
        // set of series.
        if (occurrences[wwn]++ > 0) continue;
        std::string fingerprint = Fingerprint(info, display_name, subenc);
        auto previous = kept_.find(host + '\0' + wwn);
        KeptEnclosure& entry = kept[host + '\0' + wwn];
        if (previous != kept_.end() && previous->second.fingerprint == fingerprint) {
            entry = std::move(previous->second);
        } else {
            entry.fingerprint = std::move(fingerprint);
            entry.text = SampleText(Families());
            WriteEnclosure(entry.text, LabelText(host_label).Add("enclosure", wwn), info,
                           display_name, subenc, options_.all_elements);
            ++rewritten_;
        }
        parts.push_back(&entry.text);
    }
}

std::string MetricsExporter::Scrape() {
    rewritten_ = 0;
    std::map<std::string, KeptEnclosure> kept;
    std::vector<SampleText> host_parts;
    host_parts.reserve(session_.hosts().size() + 1);
    std::vector<const SampleText*> parts;
    host_parts.emplace_back(Families());
    host_parts.back().Add(kBuildInfo, LabelText().Add("version", HALVORIN_VERSION), 1);
    parts.push_back(&host_parts.back());
    for (size_t i = 0; i < session_.hosts().size(); ++i) {
        host_parts.emplace_back(Families());
        parts.push_back(&host_parts.back());
        AddHost(i, host_parts.back(), parts, kept);
    }
    SampleText last_read(Families());
    for (const auto& [key, when] : counters_.last_read)
        last_read.Add(kLastRead, LabelText().Add("host", key.first).Add("enclosure", key.second),
                      when);
    parts.push_back(&last_read);
    std::string out;
    WriteExposition(Families(), parts, out);
    kept_ = std::move(kept);  // enclosures not seen now are forgotten
    return out;
}

}  // namespace halvorin::ctl
