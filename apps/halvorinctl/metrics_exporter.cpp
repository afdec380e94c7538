#include "apps/halvorinctl/metrics_exporter.h"
#include "apps/halvorinctl/command.h"
#include "apps/halvorinctl/stop_signal.h"

#include <prometheus/exposer.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <string_view>

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

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;
using Labels = std::vector<ClientMetric::Label>;

namespace {

// Families in the order they were first used, each with its samples. A
// family's name and help are copied once, when it first appears.
class SampleSink {
  public:
    void Add(std::string_view name, std::string_view help, MetricType type, Labels labels,
             double value) {
        auto it = index_.find(name);
        if (it == index_.end()) {
            it = index_.emplace(std::string(name), families_.size()).first;
            families_.push_back(MetricFamily{std::string(name), std::string(help), type, {}});
        }
        ClientMetric sample;
        sample.label = std::move(labels);
        if (type == MetricType::Counter)
            sample.counter.value = value;
        else
            sample.gauge.value = value;
        families_[it->second].metric.push_back(std::move(sample));
    }
    void Gauge(std::string_view name, std::string_view help, Labels labels, double value) {
        Add(name, help, MetricType::Gauge, std::move(labels), value);
    }
    MetricSet Take() { return std::move(families_); }

  private:
    MetricSet families_;
    std::map<std::string, size_t, std::less<>> index_;
};

constexpr const char* kThresholdKinds[4] = {"high_critical", "high_warning", "low_warning",
                                            "low_critical"};

// The names and help texts of one kind of sensor's families.
struct SensorFamilies {
    std::string reading, reading_help;
    std::array<std::string, 4> threshold, threshold_help;

    SensorFamilies(const char* base, const char* unit, const char* quantity)
        : reading(std::string(base) + "_" + unit),
          reading_help(std::string(quantity) + " last read") {
        for (int k = 0; k < 4; ++k) {
            threshold[k] = std::string(base) + "_" + kThresholdKinds[k] + "_threshold_" + unit;
            threshold_help[k] = std::string(quantity) + " " + kThresholdKinds[k] + " threshold";
        }
    }
};

const SensorFamilies* SensorOf(uint8_t type) {
    static const SensorFamilies kFan("halvorin_fan_speed", "rpm", "Fan speed");
    static const SensorFamilies kTemperature("halvorin_temperature", "celsius", "Temperature");
    static const SensorFamilies kVoltage("halvorin_voltage", "volts", "Voltage");
    static const SensorFamilies kCurrent("halvorin_current", "amperes", "Current");
    switch (type) {
        case kTypeCooling:
            return &kFan;
        case kTypeTemperature:
            return &kTemperature;
        case kTypeVoltage:
            return &kVoltage;
        case kTypeCurrent:
            return &kCurrent;
        default:
            return nullptr;
    }
}

const char* LevelName(int level) {
    return level == 0 ? "information" : level == 1 ? "warning" : "error";
}

Labels With(Labels labels, const std::string& name, const std::string& value) {
    labels.push_back({name, value});
    return labels;
}

// Zoning, expander and port entries are the program's own records, with no
// SES status of their own.
bool HasStatus(uint8_t type) {
    return type != kTypeZoneEntry && type != kTypeExpanderEntry && type != kTypePortEntry;
}

void AddElement(SampleSink& sink, const Labels& enclosure, const std::string& type,
                const CSesElem& e) {
    const Labels labels =
        With(With(enclosure, "element", Utf16ToUtf8(ElementName(&e))), "type", type);
    sink.Gauge("halvorin_element_status_code",
               "SES status code of the element (0 unsupported, 1 OK, 2 critical, 3 noncritical, "
               "4 unrecoverable, 5 not installed, 6 unknown, 7 not available, 8 no access)",
               labels, e.raw_status[0] & 0x0F);
    sink.Gauge("halvorin_element_failed",
               "1 when the element is in fault: its FAIL bit, a failure or critical-threshold "
               "bit, or the status code critical or unrecoverable",
               labels, IsFault(e));
    const SensorFamilies* sensor = SensorOf(e.type);
    const std::optional<Unit> unit = UnitOf(e.type);
    if (!sensor || !unit) return;
    int16_t last = 0;
    int32_t updates = 0;
    if (ReadHistory(e, std::span(&last, 1), &updates) == 1)
        sink.Gauge(sensor->reading, sensor->reading_help, labels, last * unit->scale);
    for (int k = 0; k < 4; ++k) {
        if (!HasThreshold(e, size_t(k))) continue;
        sink.Gauge(sensor->threshold[k], sensor->threshold_help[k], labels,
                   e.thresholds[k] * unit->scale);
    }
}

void AddEnclosure(SampleSink& sink, const std::string& host, CSubEnc* subenc) {
    const SubEncSummary info = SubEncInfo(subenc);
    const Labels labels = {{"host", host},
                           {"enclosure", Hex(info.logical_id.data(), 8)},
                           {"name", Utf16ToUtf8(EnclosureDisplayName(info))}};
    sink.Gauge("halvorin_firmware_info", "Firmware revision, vendor and product of the enclosure",
               With(With(With(labels, "revision", info.firmware_revision), "vendor", info.vendor),
                    "product", info.product),
               1);
    sink.Gauge("halvorin_uid_led_on", "1 while the system identification LED is on", labels,
               (info.indicators & kIndicatorUidLed) != 0);
    sink.Gauge("halvorin_buzzer_sounding", "1 while the buzzer sounds", labels,
               (info.indicators & kIndicatorBuzzer) != 0);
    std::map<std::string, int> failed_by_type;
    const CSesDev* device = subenc->dev;
    for (size_t tdi = 0; tdi < device->type_descs.size(); ++tdi) {
        const ELEM_TYPE_DESC& d = device->type_descs[tdi];
        if (d.subenc != subenc || !HasStatus(d.type)) continue;
        const std::string type = GroupTitle(d);
        std::vector<CSesElem*> elements = ElementsOfType(subenc, static_cast<uint8_t>(tdi));
        int& failed = failed_by_type[type];
        for (CSesElem* e : elements) {
            AddElement(sink, labels, type, *e);
            failed += IsFault(*e);
        }
        ReleaseElements(elements);
    }
    for (const auto& [type, failed] : failed_by_type)
        sink.Gauge("halvorin_failed_elements", "Number of failed elements of a type",
                   With(labels, "type", type), failed);
}

// Counts status events by host and level as the poll step raises them.
void CountStatusEvent(CSesElem* element, uint32_t bit, void* context) {
    auto event = DescribeStatusEvent(element, bit);
    if (!event) return;
    auto& counters = *static_cast<MetricCounters*>(context);
    const std::string host = Utf16ToUtf8(element->subenc->dev->domain->host_name);
    counters.status_events[{host, event->level}] += 1;
}

}  // namespace

MetricSet BuildMetricSet(ManagerSession& session, MetricCounters& counters) {
    SampleSink sink;
    for (size_t i = 0; i < session.hosts().size(); ++i) {
        const std::string& host = session.hosts()[i];
        CSesDomain* domain = session.domains()[i];
        const bool reachable = domain && domain->client.state() == kStateReady;
        sink.Gauge("halvorin_agent_reachable", "1 while the host's agent accepts this manager",
                   {{"host", host}}, reachable);
        const auto failures = counters.connect_failures.find(host);
        sink.Add("halvorin_agent_connect_failures_total",
                 "Times the host's agent could not be reached or refused this manager",
                 MetricType::Counter, {{"host", host}},
                 failures == counters.connect_failures.end() ? 0 : failures->second);
        for (int level = 0; level <= 2; ++level) {
            const auto events = counters.status_events.find({host, level});
            sink.Add("halvorin_status_events_total", "Status events raised, by level",
                     MetricType::Counter, {{"host", host}, {"level", LevelName(level)}},
                     events == counters.status_events.end() ? 0 : events->second);
        }
        std::vector<CSesDev*> devices = domain ? SnapshotDevices(domain) : std::vector<CSesDev*>{};
        std::vector<CSubEnc*> subencs =
            domain ? CollectSubEnclosures(domain) : std::vector<CSubEnc*>{};
        sink.Gauge("halvorin_devices", "SES devices the host's agent reports", {{"host", host}},
                   double(devices.size()));
        sink.Gauge("halvorin_enclosures", "Enclosures read on the host", {{"host", host}},
                   double(subencs.size()));
        for (CSesDev* device : devices)
            sink.Gauge("halvorin_device_ready", "1 when the SES device has been read",
                       {{"host", host}, {"device", Hex(device->Identifier().data(), 8)}},
                       (device->Flags() & kDeviceReady) != 0);
        for (CSubEnc* subenc : subencs) {
            AddEnclosure(sink, host, subenc);
            if (subenc->dev->last_read_time > 0)
                counters.last_read[{host, Hex(SubEncInfo(subenc).logical_id.data(), 8)}] =
                    double(subenc->dev->last_read_time);
        }
        ReleaseSubEnclosures(subencs);
        if (domain) ReleaseDevices(devices);
    }
    for (const auto& [key, when] : counters.last_read)
        sink.Gauge("halvorin_enclosure_last_read_timestamp_seconds",
                   "When the enclosure's status was last read (Unix time); it stays after the "
                   "enclosure is gone",
                   {{"host", key.first}, {"enclosure", key.second}}, when);
    return sink.Take();
}

std::vector<MetricFamily> MetricsCollectable::Collect() const {
    std::unique_lock lock(mutex_);
    const uint64_t request = ++requests_;
    published_.wait_for(lock, kWaitForFreshSet, [&] { return answered_ >= request; });
    std::shared_ptr<const MetricSet> latest = latest_;
    lock.unlock();
    return *latest;  // copied outside the lock
}

bool MetricsCollectable::Wanted() const {
    std::lock_guard lock(mutex_);
    serving_ = requests_;
    return serving_ > answered_;
}

void MetricsCollectable::Publish(MetricSet set) {
    auto published = std::make_shared<const MetricSet>(std::move(set));
    {
        std::lock_guard lock(mutex_);
        latest_ = std::move(published);
        answered_ = serving_;
    }
    published_.notify_all();
}

// Each HTTP connection holds one of the exposer's threads while its request
// arrives: a client that sends it slowly keeps its thread only until the
// request time-out, and there are enough threads that a scrape finds one
// free beside dozens of such clients.
std::vector<std::string> ExposerOptions(const std::string& listen) {
    return {"listening_ports",    listen,
            "num_threads",        std::to_string(kExposerThreads),
            "request_timeout_ms", std::to_string(kExposerRequestTimeout.count())};
}

namespace {

// "ADDRESS:PORT" with the port the server listens on ("127.0.0.1:0" asks
// the system for any free one).
std::string ListenedAddress(const std::string& listen, const std::vector<int>& ports) {
    const size_t colon = listen.rfind(':');
    if (ports.empty() || colon == std::string::npos) return listen;
    return listen.substr(0, colon + 1) + std::to_string(ports.front());
}

}  // namespace

int RunMetrics(ManagerSession& session, const std::string& listen, const std::atomic<bool>& stop) {
    std::unique_ptr<prometheus::Exposer> exposer;
    try {
        exposer = std::make_unique<prometheus::Exposer>(ExposerOptions(listen));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "halvorinctl: cannot listen on %s: %s\n", listen.c_str(), e.what());
        return 2;
    }
    auto collectable = std::make_shared<MetricsCollectable>();
    exposer->RegisterCollectable(collectable);
    // Said once the samples are registered, with the port the system gave
    // for ":0", so whoever reads this line can scrape straight away.
    std::fprintf(stderr, "halvorinctl: serving metrics on http://%s/metrics\n",
                 ListenedAddress(listen, exposer->GetListeningPorts()).c_str());

    MetricCounters counters;
    SetStatusEventHook(&CountStatusEvent, &counters);
    std::vector<bool> was_down(session.hosts().size(), false);
    while (!stop) {
        session.Poll();
        for (size_t i = 0; i < session.domains().size(); ++i) {
            CSesDomain* domain = session.domains()[i];
            // Not reachable yet is no failure; a refused hello or a failed
            // connection is.
            const bool down =
                !domain ||
                (domain->client.state() != kStateReady &&
                 (domain->client.last_hello_result() < 0 || domain->client.last_failure() != 0));
            if (down && !was_down[i]) counters.connect_failures[session.hosts()[i]] += 1;
            was_down[i] = down;
        }
        if (collectable->Wanted()) collectable->Publish(BuildMetricSet(session, counters));
        // An agent that was not up yet when we started is found within seconds.
        session.RetryUnreachable();
        session.WaitForNextStep();
    }
    SetStatusEventHook(nullptr, nullptr);
    return 0;
}

extern const Command kCommandMetrics = {
    "metrics",
    "  metrics --listen ADDR:PORT    follow the hosts and serve Prometheus metrics on\n"
    "                                http://ADDR:PORT/metrics\n",
    {kOptListen},
    [](const CommandLine& line) {
        if (!TakesNoWords(line).empty()) return TakesNoWords(line);
        return line.listen.empty() ? std::string("metrics needs --listen ADDR:PORT") : "";
    },
    [](ManagerSession& session, const CommandLine& line) {
        return RunMetrics(session, line.listen, StopRequested());
    },
};

}  // namespace halvorin::ctl
