#include "apps/halvorinctl/enclosure_report.h"

#include <string>

#include "base/string_table.h"
#include "base/text_format.h"
#include "base/utf16.h"
#include "enclosure/model/display_name.h"
#include "enclosure/model/element_naming.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/zone_bits.h"
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

}  // namespace

bool HasDiskSasAddress(const CSesElem* slot) {
    return std::any_of(slot->disk_sas_address.begin(), slot->disk_sas_address.end(),
                       [](uint8_t b) { return b != 0; });
}

std::string StateName(uint32_t bit) {
    for (const BitName& b : kStateNames)
        if (b.bit == bit) return b.name;
    char text[16];
    std::snprintf(text, sizeof text, "state_%08x", bit);
    return text;
}

namespace {

json StateNames(uint32_t state) {
    json names = json::array();
    for (const BitName& b : kStateNames) {
        if (state & b.bit) names.push_back(b.name);
    }
    return names;
}

}  // namespace

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

namespace {

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string RawText(const std::array<uint8_t, 48>& data, size_t offset, size_t width) {
    const char* p = reinterpret_cast<const char*>(&data[offset]);
    return std::string(p, strnlen(p, width));
}

// A disk's identity text as JSON text; where its bytes are not UTF-8 the
// report carries them in hex as well ("serial_hex"), so nothing is lost.
void AddDiskText(json& disk, const char* key, const std::array<uint8_t, 48>& data, size_t offset,
                 size_t width) {
    const std::string raw = RawText(data, offset, width);
    const std::string text = SanitizedUtf8(raw);
    disk[key] = text;
    if (text != raw)
        disk[std::string(key) + "_hex"] =
            Hex(reinterpret_cast<const uint8_t*>(raw.data()), raw.size());
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
                json disk = json::object();
                AddDiskText(disk, "vendor", d, kDiskVendor, 8);
                AddDiskText(disk, "product", d, kDiskProduct, 16);
                AddDiskText(disk, "serial", d, kDiskSerial, 20);
                if (HasDiskSasAddress(e)) disk["sas_address"] = Hex(e->disk_sas_address.data(), 8);
                extra["disk"] = disk;
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
                for (int k = 0; k < kZoneTableSlots; ++k) {
                    if (ZoneHasSlot(d, k)) slots.push_back(k + 1);
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
    if (std::string descriptor = ElementDescriptor(e); !descriptor.empty())
        element["descriptor"] = std::move(descriptor);
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
        auto scaled = [&](size_t i) -> json {
            return HasThreshold(*e, i) ? json(e->thresholds[i] * unit->scale) : json(nullptr);
        };
        element["thresholds"] = {{"high_critical", scaled(0)},
                                 {"high_warning", scaled(1)},
                                 {"low_warning", scaled(2)},
                                 {"low_critical", scaled(3)}};
        if (e->nominal != 0) element["nominal"] = e->nominal * unit->scale;
    }
    json extra = TypeSpecific(e);
    if (!extra.empty()) element.update(extra);
    return element;
}

}  // namespace

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

std::string Hex(const uint8_t* bytes, size_t count) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string BytesFromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        const int high = HexDigitValue(hex[i]), low = HexDigitValue(hex[i + 1]);
        if (high < 0 || low < 0) break;
        bytes += static_cast<char>(high << 4 | low);
    }
    return bytes;
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
        json group = {
            {"type", d.type}, {"title", GroupTitle(d)}, {"text", d.text}, {"ordinal", d.ordinal}};
        json list = json::array();
        for (const Ref<CSesElem>& e : ElementsOfType(subenc, static_cast<uint8_t>(tdi)))
            list.push_back(ElementReport(e.get()));
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
        for (const Ref<CSesDev>& device : SnapshotDevices(domain)) {
            json d = {{"id", Hex(device->Identifier().data(), 8)},
                      {"ready", bool(device->Flags() & kDeviceReady)}};
            if (device->chain_error != 0) {
                d["error"] = std::string(ResultCodeName(device->chain_error));
                d["error_code"] = device->chain_error;
            }
            devices.push_back(d);
        }
        for (const Ref<CSubEnc>& s : CollectSubEnclosures(domain))
            enclosures.push_back(EnclosureReport(s.get()));
    }
    host["devices"] = devices;
    host["enclosures"] = enclosures;
    return host;
}

// ---- text ------------------------------------------------------------------------------
// Rendered straight from the model, in one pass, without building the JSON.

namespace {

// "1-12,15,17-18" of the zone's member slots; "none" for an empty zone.
std::string ZoneSlots(const std::array<uint8_t, 48>& data) {
    std::string out;
    for (int k = 0; k < kZoneTableSlots;) {
        if (!ZoneHasSlot(data, k)) {
            ++k;
            continue;
        }
        int last = k;
        while (last + 1 < kZoneTableSlots && ZoneHasSlot(data, last + 1))
            ++last;
        if (!out.empty()) out += ',';
        out += std::to_string(k + 1);
        if (last > k) out += '-' + std::to_string(last + 1);
        k = last + 1;
    }
    return out.empty() ? "none" : out;
}

std::string StateText(uint32_t state) {
    std::string out;
    for (const BitName& b : kStateNames) {
        if (!(state & b.bit)) continue;
        if (!out.empty()) out += ',';
        out += b.name;
    }
    return out;
}

std::string ReadingText(const CSesElem* e, const Unit& unit) {
    int16_t last = 0;
    int32_t updates = 0;
    if (ReadHistory(*e, std::span(&last, 1), &updates) != 1) return "";
    char text[32];
    std::snprintf(text, sizeof text, unit.scale < 1 ? "%.2f %s" : "%.0f %s", last * unit.scale,
                  unit.name);
    return text;
}

std::string ThresholdText(const CSesElem* e, const Unit& unit) {
    std::string t;
    bool any = false;
    for (int i : {3, 2, 1, 0}) {  // low critical, low warning, high warning, high critical
        char value[16] = "-";
        if (HasThreshold(*e, size_t(i))) {
            std::snprintf(value, sizeof value, "%g", e->thresholds[i] * unit.scale);
            any = true;
        }
        if (!t.empty()) t += '/';
        t += value;
    }
    return any ? "thresholds " + t : "";
}

std::string ExtraText(const CSesElem* e) {
    const bool valid = e->data_valid & kDataValid;
    const auto& d = e->type_data;
    std::string out;
    switch (e->type) {
        case kTypeDeviceSlot:
        case kTypeArrayDeviceSlot:
            if (valid) {
                out = "slot " + std::to_string(d[kSlotNumber]);
                if (const std::string descriptor = ElementDescriptor(e); !descriptor.empty())
                    out += " \"" + descriptor + "\"";
                const std::string disk =
                    SanitizedUtf8(RawText(d, kDiskVendor, 8) + " " + RawText(d, kDiskProduct, 16) +
                                  " " + RawText(d, kDiskSerial, 20));
                if (disk.find_first_not_of(' ') != std::string::npos) out += "  " + disk;
                if (HasDiskSasAddress(e)) out += "  SAS " + Hex(e->disk_sas_address.data(), 8);
            }
            break;
        case kTypeSasExpander:
            if (valid) out = std::to_string(d[0]) + " phys, SAS address " + Hex(&d[1], 8);
            break;
        case kTypePortEntry:
            if (valid) {
                out = e->raw_status[0] == 1 ? std::to_string(d[0]) + " Gbit/s to " + Hex(&d[2], 8)
                                            : std::string("nothing attached");
            }
            break;
        case kTypeExpanderEntry:
            if (valid) out = (e->raw_status[0] == 1 ? "present " : "absent ") + Hex(&d[1], 8);
            break;
        case kTypeZoneEntry:
            if (valid) out = "zone: slots " + ZoneSlots(d);
            break;
        default:
            break;
    }
    if (auto unit = UnitOf(e->type)) out += ThresholdText(e, *unit);
    return out;
}

void PrintElement(const CSesElem* e, std::FILE* out) {
    const auto unit = UnitOf(e->type);
    const std::string status =
        e->type == kTypeZoneEntry ? "" : StatusCodeName(e->raw_status[0] & 0x0F);
    std::fprintf(out, "      %-26s %-13s %-10s %-28s %s\n", Utf16ToUtf8(ElementName(e)).c_str(),
                 status.c_str(), unit ? ReadingText(e, *unit).c_str() : "",
                 StateText(e->state).c_str(), ExtraText(e).c_str());
}

void PrintEnclosure(CSubEnc* subenc, std::FILE* out) {
    const SubEncSummary info = SubEncInfo(subenc);
    uint16_t indicators;
    {
        std::lock_guard lock(subenc->mutex);
        indicators = subenc->indicators;
    }
    std::fprintf(out, "\n  Enclosure %s\n", DisplayName(subenc).c_str());
    std::fprintf(out, "    %s %s, firmware %s, WWN %s, sub-enclosure %d via device %s\n",
                 info.vendor.c_str(), info.product.c_str(), info.firmware_revision.c_str(),
                 Hex(info.logical_id.data(), 8).c_str(), subenc->id,
                 Hex(subenc->dev->Identifier().data(), 8).c_str());
    std::fprintf(out, "    system name: %s   UID LED: %s   buzzer: %s\n",
                 info.system_name.empty() ? "(none)" : info.system_name.c_str(),
                 indicators & kIndicatorUidLed ? "on" : "off",
                 indicators & kIndicatorBuzzer ? "sounding" : "silent");
    const CSesDev* device = subenc->dev;
    for (size_t tdi = 0; tdi < device->type_descs.size(); ++tdi) {
        const ELEM_TYPE_DESC& d = device->type_descs[tdi];
        if (d.subenc != subenc) continue;
        const std::vector<Ref<CSesElem>> elements =
            ElementsOfType(subenc, static_cast<uint8_t>(tdi));
        const bool text = d.text[0] != '\0';
        std::fprintf(out, "    %s%s%s%s (%zu)\n", GroupTitle(d).c_str(), text ? " \"" : "", d.text,
                     text ? "\"" : "", elements.size());
        for (const Ref<CSesElem>& e : elements)
            PrintElement(e.get(), out);
    }
}

}  // namespace

void PrintTextReport(CSesDomain* domain, const HostStatus& status, std::FILE* out) {
    std::fprintf(out, "Host %s: %s", status.host.c_str(), OutcomeName(status.outcome));
    if (!status.detail.empty()) std::fprintf(out, " (%s)", status.detail.c_str());
    std::fprintf(out, "\n");
    if (!domain) return;
    for (const Ref<CSesDev>& device : SnapshotDevices(domain)) {
        if (device->chain_error == 0) continue;
        std::fprintf(out, "  device %s: %s\n", Hex(device->Identifier().data(), 8).c_str(),
                     std::string(ResultCodeName(device->chain_error)).c_str());
    }
    for (const Ref<CSubEnc>& s : CollectSubEnclosures(domain))
        PrintEnclosure(s.get(), out);
}

}  // namespace halvorin::ctl
