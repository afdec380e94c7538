#include "apps/halvorinctl/enclosure_report.h"

#include <string>

#include "base/string_table.h"
#include "base/text_format.h"
#include "base/utf16.h"
#include "enclosure/model/display_name.h"
#include "enclosure/model/element_naming.h"
#include "enclosure/model/element_types.h"
#include "enclosure/poll/status_event.h"

namespace halvorin::ctl {

using nlohmann::json;

namespace {

const char* StatusCodeName(uint8_t code) {
    static const char* const kNames[] = {
        "unsupported",   "OK",      "critical",      "noncritical", "unrecoverable",
        "not installed", "unknown", "not available", "no access"};
    return code < std::size(kNames) ? kNames[code] : "reserved";
}

struct BitName {
    uint32_t bit;
    const char* name;
};

constexpr BitName kStateNames[] = {
    {kStateBelowLowCritical, "below_low_critical"},
    {kStateAboveHighCritical, "above_high_critical"},
    {kStateBelowLowWarning, "below_low_warning"},
    {kStateAboveHighWarning, "above_high_warning"},
    {kStateTemperatureUnderFailure, "temperature_below_low_critical"},
    {kStateTemperatureOverFailure, "temperature_above_high_critical"},
    {kStateFailed, "failed"},
    {kStateDcFailure, "dc_failure"},
    {kStateAcFailure, "ac_failure"},
    {kStateOverTemperatureFailure, "over_temperature_failure"},
    {kStateTemperatureWarning, "temperature_warning"},
    {kStateOverCurrent, "over_current"},
    {kStateUnderVoltage, "under_voltage"},
    {kStateOverVoltage, "over_voltage"},
    {kStateHotSpare, "hot_spare"},
    {kStateConsistencyCheck, "consistency_check"},
    {kStateInCriticalArray, "in_critical_array"},
    {kStateInFailedArray, "in_failed_array"},
    {kStateRebuildRemap, "rebuild_remap"},
    {kStateDoNotRemove, "do_not_remove"},
    {kStateReadyToInsert, "ready_to_insert"},
    {kStateDeviceOff, "device_off"},
    {kStateOk, "ok"},
    {kStateIdentifyOn, "identify"},
};

json StateNames(uint32_t state) {
    json names = json::array();
    for (const BitName& b : kStateNames) {
        if (state & b.bit) names.push_back(b.name);
    }
    return names;
}

// Readings in the element's unit: rpm, degrees Celsius, volts, amperes.
struct Unit {
    const char* name;
    double scale;
};
std::optional<Unit> UnitOf(uint8_t type) {
    switch (type) {
        case kTypeCooling:
            return Unit{"rpm", 1};
        case kTypeTemperature:
            return Unit{"C", 1};
        case kTypeVoltage:
            return Unit{"V", 0.01};
        case kTypeCurrent:
            return Unit{"A", 0.01};
        default:
            return std::nullopt;
    }
}

std::string Text(const std::array<uint8_t, 48>& data, size_t offset, size_t width) {
    const char* p = reinterpret_cast<const char*>(&data[offset]);
    return std::string(p, strnlen(p, width));
}

json TypeSpecific(const CSesElem* e) {
    json extra = json::object();
    const bool valid = e->data_valid & kDataValid;
    const auto& d = e->type_data;
    switch (e->type) {
        case kTypeDeviceSlot:
        case kTypeArrayDeviceSlot:
            if (valid) {
                extra["slot_number"] = d[kSlotNumber];
                extra["disk"] = {{"vendor", Text(d, kDiskVendor, 8)},
                                 {"product", Text(d, kDiskProduct, 16)},
                                 {"serial", Text(d, kDiskSerial, 20)}};
            }
            break;
        case kTypeSasExpander:
            if (valid) extra = {{"phys", d[0]}, {"sas_address", Hex(&d[1], 8)}};
            break;
        case kTypePortEntry:
            if (valid) {
                extra = {{"link_rate_gbps", d[0]},
                         {"attribute", d[1]},
                         {"attached", e->raw_status[0] == 1},
                         {"sas_address", Hex(&d[2], 8)}};
            }
            break;
        case kTypeExpanderEntry:
            if (valid) extra = {{"present", e->raw_status[0] == 1}, {"sas_address", Hex(&d[1], 8)}};
            break;
        case kTypeZoneEntry:
            if (valid) {
                json slots = json::array();
                for (int k = 0; k < 80; ++k) {
                    if (d[k / 8] & (1 << (k % 8))) slots.push_back(k + 1);
                }
                extra = {{"zone_data", Hex(d.data(), 10)}, {"slots", slots}};
            }
            break;
        default:
            break;
    }
    return extra;
}

json ElementReport(const CSesElem* e) {
    json element = {{"index", e->element_index}, {"name", Utf16ToUtf8(ElementName(e))}};
    if (e->type != kTypeZoneEntry) {  // zone entries carry no status
        element["status_code"] = e->raw_status[0] & 0x0F;
        element["status"] = StatusCodeName(e->raw_status[0] & 0x0F);
    }
    element["state"] = StateNames(e->state);
    element["state_bits"] = e->state;
    if (auto unit = UnitOf(e->type)) {
        int16_t last = 0;
        int32_t updates = 0;
        if (ReadHistory(*e, std::span(&last, 1), &updates) == 1) {
            element["reading"] = {{"value", last * unit->scale}, {"unit", unit->name}};
        }
        auto scaled = [&](int16_t v) -> json {
            return v == 0 ? json(nullptr) : json(v * unit->scale);
        };
        element["thresholds"] = {{"high_critical", scaled(e->thresholds[0])},
                                 {"high_warning", scaled(e->thresholds[1])},
                                 {"low_warning", scaled(e->thresholds[2])},
                                 {"low_critical", scaled(e->thresholds[3])}};
        if (e->nominal != 0) element["nominal"] = e->nominal * unit->scale;
    }
    json extra = TypeSpecific(e);
    if (!extra.empty()) element.update(extra);
    return element;
}

std::string GroupTitle(const ELEM_TYPE_DESC& d) {
    const int title = GroupTitleId(d.type);
    if (title == 0) {
        std::u16string name = ElementTypeName(d.type);
        return name.empty() ? "element type " + std::to_string(d.type)
                            : Utf16ToUtf8(CapitalizeWords(name));
    }
    const std::u16string suffix =
        d.ordinal ? FormatString(LoadString(152), {int64_t{d.ordinal}}) : u"";
    return Utf16ToUtf8(CapitalizeWords(FormatString(LoadString(title), {suffix})));
}

}  // namespace

std::string Hex(const uint8_t* bytes, size_t count) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string DisplayName(const CSubEnc* subenc) {
    return Utf16ToUtf8(EnclosureDisplayName(subenc));
}

json EnclosureReport(CSubEnc* subenc) {
    const SubEncSummary info = SubEncInfo(subenc);
    uint16_t indicators, capabilities;
    {
        std::lock_guard lock(subenc->mutex);
        indicators = subenc->indicators;
        capabilities = subenc->capabilities;
    }
    json report = {{"name", DisplayName(subenc)},
                   {"system_name", info.system_name},
                   {"vendor", info.vendor},
                   {"product", info.product},
                   {"firmware_revision", info.firmware_revision},
                   {"wwn", Hex(info.logical_id.data(), 8)},
                   {"subenclosure", subenc->id},
                   {"device", Hex(subenc->dev->Identifier().data(), 8)},
                   {"capabilities", capabilities},
                   {"indicators",
                    {{"uid_led", bool(indicators & kIndicatorUidLed)},
                     {"buzzer", bool(indicators & kIndicatorBuzzer)}}}};
    json groups = json::array();
    const CSesDev* device = subenc->dev;
    for (size_t tdi = 0; tdi < device->type_descs.size(); ++tdi) {
        const ELEM_TYPE_DESC& d = device->type_descs[tdi];
        if (d.subenc != subenc) continue;
        std::vector<CSesElem*> elements = ElementsOfType(subenc, static_cast<uint8_t>(tdi));
        json group = {
            {"type", d.type}, {"title", GroupTitle(d)}, {"text", d.text}, {"ordinal", d.ordinal}};
        json list = json::array();
        for (CSesElem* e : elements)
            list.push_back(ElementReport(e));
        ReleaseElements(elements);
        group["elements"] = list;
        groups.push_back(group);
    }
    report["groups"] = groups;
    return report;
}

json HostReport(CSesDomain* domain, const HostStatus& status) {
    json host = {{"host", status.host}, {"status", OutcomeName(status.outcome)}};
    if (!status.detail.empty()) host["detail"] = status.detail;
    json devices = json::array();
    json enclosures = json::array();
    if (domain) {
        std::vector<CSesDev*> all = SnapshotDevices(domain);
        for (CSesDev* device : all) {
            json d = {{"id", Hex(device->Identifier().data(), 8)},
                      {"ready", bool(device->Flags() & kDeviceReady)}};
            if (device->chain_error != 0) {
                d["error"] = std::string(ResultCodeName(device->chain_error));
                d["error_code"] = device->chain_error;
            }
            devices.push_back(d);
        }
        ReleaseDevices(all);
        std::vector<CSubEnc*> subencs = CollectSubEnclosures(domain);
        for (CSubEnc* s : subencs)
            enclosures.push_back(EnclosureReport(s));
        ReleaseSubEnclosures(subencs);
    }
    host["devices"] = devices;
    host["enclosures"] = enclosures;
    return host;
}

// ---- text ------------------------------------------------------------------------------

namespace {

// "1-12,15,17-18" of an ascending list of numbers; "none" for an empty one.
std::string Ranges(const json& numbers) {
    std::string out;
    for (size_t i = 0; i < numbers.size();) {
        size_t j = i;
        while (j + 1 < numbers.size() && numbers[j + 1].get<int>() == numbers[j].get<int>() + 1)
            ++j;
        if (!out.empty()) out += ',';
        out += std::to_string(numbers[i].get<int>());
        if (j > i) {
            out += '-';
            out += std::to_string(numbers[j].get<int>());
        }
        i = j + 1;
    }
    return out.empty() ? "none" : out;
}

std::string Reading(const json& element) {
    if (!element.contains("reading")) return "";
    const json& r = element["reading"];
    char text[32];
    const std::string unit = r["unit"];
    if (unit == "V" || unit == "A")
        std::snprintf(text, sizeof text, "%.2f %s", r["value"].get<double>(), unit.c_str());
    else
        std::snprintf(text, sizeof text, "%.0f %s", r["value"].get<double>(), unit.c_str());
    return text;
}

std::string Extra(const json& e) {
    std::string out;
    if (e.contains("slot_number")) {
        out += "slot ";
        out += std::to_string(e["slot_number"].get<int>());
    }
    if (e.contains("disk")) {
        const json& d = e["disk"];
        std::string disk = d["vendor"].get<std::string>() + " " + d["product"].get<std::string>() +
                           " " + d["serial"].get<std::string>();
        if (disk.find_first_not_of(' ') != std::string::npos) out += "  " + disk;
    }
    if (e.contains("link_rate_gbps")) {
        out += e["attached"].get<bool>() ? std::to_string(e["link_rate_gbps"].get<int>()) +
                                               " Gbit/s to " + e["sas_address"].get<std::string>()
                                         : std::string("nothing attached");
    } else if (e.contains("present")) {
        out += (e["present"].get<bool>() ? "present " : "absent ") +
               e["sas_address"].get<std::string>();
    } else if (e.contains("phys")) {
        out += std::to_string(e["phys"].get<int>()) + " phys, SAS address " +
               e["sas_address"].get<std::string>();
    }
    if (e.contains("slots")) out += "zone: slots " + Ranges(e["slots"]);
    if (e.contains("thresholds")) {
        std::string t;
        for (const char* key : {"low_critical", "low_warning", "high_warning", "high_critical"}) {
            const json& v = e["thresholds"][key];
            char value[16] = "-";
            if (!v.is_null()) std::snprintf(value, sizeof value, "%g", v.get<double>());
            if (!t.empty()) t += '/';
            t += value;
        }
        if (t != "-/-/-/-") out += "thresholds " + t;
    }
    return out;
}

}  // namespace

void PrintHostReport(const json& host, std::FILE* out) {
    std::fprintf(out, "Host %s: %s", host["host"].get<std::string>().c_str(),
                 host["status"].get<std::string>().c_str());
    if (host.contains("detail"))
        std::fprintf(out, " (%s)", host["detail"].get<std::string>().c_str());
    std::fprintf(out, "\n");
    for (const json& d : host["devices"]) {
        if (d.contains("error")) {
            std::fprintf(out, "  device %s: %s\n", d["id"].get<std::string>().c_str(),
                         d["error"].get<std::string>().c_str());
        }
    }
    for (const json& enc : host["enclosures"]) {
        std::fprintf(out, "\n  Enclosure %s\n", enc["name"].get<std::string>().c_str());
        std::fprintf(out, "    %s %s, firmware %s, WWN %s, sub-enclosure %d via device %s\n",
                     enc["vendor"].get<std::string>().c_str(),
                     enc["product"].get<std::string>().c_str(),
                     enc["firmware_revision"].get<std::string>().c_str(),
                     enc["wwn"].get<std::string>().c_str(), enc["subenclosure"].get<int>(),
                     enc["device"].get<std::string>().c_str());
        std::fprintf(out, "    system name: %s   UID LED: %s   buzzer: %s\n",
                     enc["system_name"].get<std::string>().empty()
                         ? "(none)"
                         : enc["system_name"].get<std::string>().c_str(),
                     enc["indicators"]["uid_led"].get<bool>() ? "on" : "off",
                     enc["indicators"]["buzzer"].get<bool>() ? "sounding" : "silent");
        for (const json& group : enc["groups"]) {
            std::string text = group["text"];
            std::fprintf(out, "    %s%s%s%s (%zu)\n", group["title"].get<std::string>().c_str(),
                         text.empty() ? "" : " \"", text.c_str(), text.empty() ? "" : "\"",
                         group["elements"].size());
            for (const json& e : group["elements"]) {
                std::string state;
                for (const json& s : e["state"])
                    state += (state.empty() ? "" : ",") + s.get<std::string>();
                const std::string status = e.value("status", "");
                std::fprintf(out, "      %-26s %-13s %-10s %-28s %s\n",
                             e["name"].get<std::string>().c_str(), status.c_str(),
                             Reading(e).c_str(), state.c_str(), Extra(e).c_str());
            }
        }
    }
}

}  // namespace halvorin::ctl
