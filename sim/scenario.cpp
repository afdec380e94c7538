#include "sim/scenario.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <type_traits>

namespace halvorin::sim {

namespace {

constexpr uint8_t kWidePortPhys = 4;

using nlohmann::json;

struct ScenarioError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw ScenarioError(where + ": " + what);
}

const std::map<std::string, uint8_t>& TypeNames() {
    static const std::map<std::string, uint8_t> names = {
        {"device_slot", kDeviceSlot},
        {"power_supply", kPowerSupply},
        {"cooling", kCooling},
        {"temperature", kTemperatureSensor},
        {"esc_electronics", kEscElectronics},
        {"enclosure", kEnclosureElement},
        {"voltage", kVoltageSensor},
        {"current", kCurrentSensor},
        {"target_port", kScsiTargetPort},
        {"initiator_port", kScsiInitiatorPort},
        {"array_device_slot", kArrayDeviceSlot},
        {"sas_expander", kSasExpander},
        {"sas_connector", kSasConnector},
    };
    return names;
}

uint8_t ParseType(const json& value, const std::string& where) {
    if (value.is_number_unsigned() && value.get<uint64_t>() < 256) return value.get<uint8_t>();
    if (value.is_string()) {
        auto it = TypeNames().find(value.get<std::string>());
        if (it != TypeNames().end()) return it->second;
    }
    Fail(where, "unknown element type " + value.dump());
}

template <size_t N>
std::array<uint8_t, N> ParseHex(const json& value, const std::string& where) {
    if (!value.is_string()) Fail(where, "expected " + std::to_string(2 * N) + " hex digits");
    std::string text = value.get<std::string>();
    std::erase(text, ':');
    if (text.size() != 2 * N || !std::all_of(text.begin(), text.end(), ::isxdigit)) {
        Fail(where, "expected " + std::to_string(2 * N) + " hex digits, got \"" + text + "\"");
    }
    std::array<uint8_t, N> bytes{};
    for (size_t i = 0; i < N; ++i)
        bytes[i] = static_cast<uint8_t>(std::stoul(text.substr(2 * i, 2), nullptr, 16));
    return bytes;
}

// Expands the one "%d" or "%0Nd" of a name pattern; "%%" is a percent sign.
// Scenario files are data, so nothing else is ever treated as a format.
std::string ExpandPattern(const std::string& pattern, long number, const std::string& where) {
    std::string out;
    bool used = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            out += pattern[i];
            continue;
        }
        if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        size_t j = i + 1;
        size_t width = 0;
        while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j]))) {
            width = width * 10 + (pattern[j] - '0');
            ++j;
        }
        if (used || j >= pattern.size() || pattern[j] != 'd' || width > 9) {
            Fail(where, "pattern \"" + pattern + "\" may hold one %d or %0Nd only");
        }
        std::string digits = std::to_string(number);
        if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
        out += digits;
        used = true;
        i = j;
    }
    return out;
}

// A number as T, refused unless it is a whole number that T can hold (a
// float such as 2e39 must not reach an integer conversion).
template <typename T>
T CheckedInteger(const json& value, const std::string& what) {
    using Limits = std::numeric_limits<T>;
    if (value.is_number_unsigned()) {
        const uint64_t n = value.get<uint64_t>();
        if (n <= static_cast<uint64_t>(Limits::max())) return static_cast<T>(n);
    } else if (value.is_number_integer()) {
        const int64_t n = value.get<int64_t>();
        if (n >= static_cast<int64_t>(Limits::min()) &&
            (n < 0 || static_cast<uint64_t>(n) <= static_cast<uint64_t>(Limits::max())))
            return static_cast<T>(n);
    } else if (value.is_number_float()) {
        const double d = value.get<double>();
        if (std::isfinite(d) && d == std::floor(d) && d >= static_cast<double>(Limits::min()) &&
            d <= static_cast<double>(Limits::max()))
            return static_cast<T>(d);
    } else {
        Fail(what, "expected a number, got " + value.dump());
    }
    Fail(what, value.dump() + " is out of range (" + std::to_string(Limits::min()) + " to " +
                   std::to_string(Limits::max()) + ")");
}

template <typename T>
T As(const json& value, const std::string& what) {
    if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
        return CheckedInteger<T>(value, what);
    } else if constexpr (std::is_floating_point_v<T>) {
        if (!value.is_number()) Fail(what, "expected a number, got " + value.dump());
        const double d = value.get<double>();
        if (!std::isfinite(d)) Fail(what, "the number is out of range");
        return static_cast<T>(d);
    } else if constexpr (std::is_same_v<T, std::vector<long>>) {
        if (!value.is_array()) Fail(what, "expected a list of numbers");
        T out;
        for (const json& item : value)
            out.push_back(CheckedInteger<long>(item, what));
        return out;
    } else {
        return value.get<T>();
    }
}

template <typename T>
T Get(const json& object, const char* key, T fallback) {
    auto it = object.find(key);
    return it == object.end() || it->is_null() ? fallback : As<T>(*it, key);
}

// A number per element, or one number for all of them.
double PerElement(const json& object, const char* key, size_t index, double fallback,
                  const std::string& where) {
    auto it = object.find(key);
    if (it == object.end()) return fallback;
    if (it->is_number()) return it->get<double>();
    if (it->is_array() && index < it->size() && (*it)[index].is_number())
        return (*it)[index].get<double>();
    Fail(where, std::string("\"") + key + "\" needs a number or one number per element");
}

Disk ParseDisk(const json& value, long slot, const std::string& where) {
    if (!value.is_object()) Fail(where, "a disk is an object with vendor, product and serial");
    return Disk{ExpandPattern(Get<std::string>(value, "vendor", ""), slot, where),
                ExpandPattern(Get<std::string>(value, "product", ""), slot, where),
                ExpandPattern(Get<std::string>(value, "serial", ""), slot, where)};
}

uint8_t PercentByte(const json& object, const char* key) {
    return static_cast<uint8_t>(std::clamp(Get<double>(object, key, 0) * 2, 0.0, 255.0));
}

uint8_t CelsiusByte(const json& object, const char* key) {
    if (!object.contains(key)) return 0;
    return static_cast<uint8_t>(std::clamp(object[key].get<double>() + 20, 0.0, 255.0));
}

Thresholds ParseThresholds(const json& described, uint8_t type) {
    Thresholds t;
    if (type == kTemperatureSensor && described.contains("thresholds")) {
        const json& c = described["thresholds"];
        t = {CelsiusByte(c, "high_critical"), CelsiusByte(c, "high_warning"),
             CelsiusByte(c, "low_warning"), CelsiusByte(c, "low_critical")};
    } else if ((type == kVoltageSensor || type == kCurrentSensor) &&
               described.contains("thresholds_percent")) {
        const json& p = described["thresholds_percent"];
        t = {PercentByte(p, "high_critical"), PercentByte(p, "high_warning"),
             PercentByte(p, "low_warning"), PercentByte(p, "low_critical")};
    }
    return t;
}

const char* NominalKey(uint8_t type) {
    switch (type) {
        case kCooling:
            return "rpm";
        case kTemperatureSensor:
            return "celsius";
        case kVoltageSensor:
            return "volts";
        case kCurrentSensor:
            return "amps";
        default:
            return nullptr;
    }
}

TypeDescription ParseTypeSpec(const json& described, size_t index) {
    const std::string where = "types[" + std::to_string(index) + "]";
    if (!described.is_object()) Fail(where, "expected an object");
    TypeDescription type;
    type.type = ParseType(described.value("type", json()), where);
    type.subenclosure = Get<uint8_t>(described, "subenclosure", 0);
    type.text = Get<std::string>(described, "text", "");
    type.noise = Get<double>(described, "noise", 0);
    type.thresholds = ParseThresholds(described, type.type);

    std::vector<std::string> descriptors;
    if (described.contains("descriptors")) {
        descriptors = described["descriptors"].get<std::vector<std::string>>();
    } else {
        const long count = Get<long>(described, "count", 0);
        if (count < 0 || count > 255) Fail(where, "count must be 0..255");
        const std::string pattern = Get<std::string>(described, "descriptor", "");
        for (long i = 1; i <= count; ++i)
            descriptors.push_back(ExpandPattern(pattern, i, where));
    }
    if (descriptors.size() > 255) Fail(where, "at most 255 elements per type descriptor");

    std::vector<long> empty = Get<std::vector<long>>(described, "empty", {});
    std::vector<long> failed = Get<std::vector<long>>(described, "failed", {});
    const long first_slot = Get<long>(described, "first_slot_number", 0);
    const char* nominal_key = NominalKey(type.type);
    for (size_t i = 0; i < descriptors.size(); ++i) {
        ElementDescription element;
        element.descriptor = descriptors[i];
        const long one_based = static_cast<long>(i) + 1;
        if (nominal_key) element.nominal = PerElement(described, nominal_key, i, 0, where);
        element.slot_number = static_cast<uint8_t>(first_slot + static_cast<long>(i));
        if (described.contains("disks")) {
            const json& disks = described["disks"];
            if (i < disks.size() && !disks[i].is_null())
                element.disk = ParseDisk(disks[i], one_based, where);
        } else if (described.contains("disk") &&
                   std::find(empty.begin(), empty.end(), one_based) == empty.end()) {
            element.disk = ParseDisk(described["disk"], one_based, where);
        }
        if (described.contains("sas_addresses") && i < described["sas_addresses"].size()) {
            element.sas_address = ParseHex<8>(described["sas_addresses"][i], where);
        }
        element.phys = Get<uint8_t>(described, "phys", 0);
        element.failed = std::find(failed.begin(), failed.end(), one_based) != failed.end();
        type.elements.push_back(std::move(element));
    }
    return type;
}

EventAction ParseAction(const std::string& name, const std::string& where) {
    static const std::map<std::string, EventAction> actions = {
        {"power_supply_fail", EventAction::kPowerSupplyFail},
        {"power_supply_recover", EventAction::kPowerSupplyRecover},
        {"fan_stop", EventAction::kFanStop},
        {"fan_start", EventAction::kFanStart},
        {"fan_speed", EventAction::kFanSpeed},
        {"temperature", EventAction::kTemperature},
        {"voltage", EventAction::kVoltage},
        {"disk_pull", EventAction::kDiskPull},
        {"disk_insert", EventAction::kDiskInsert},
        {"generation_bump", EventAction::kGenerationBump},
        {"hide_type", EventAction::kHideType},
        {"show_type", EventAction::kShowType},
        {"buzzer", EventAction::kBuzzer},
        {"connector_fail", EventAction::kConnectorFail},
        {"connector_recover", EventAction::kConnectorRecover},
    };
    auto it = actions.find(name);
    if (it == actions.end()) Fail(where, "unknown action \"" + name + "\"");
    return it->second;
}

// The element type an action is about when the event does not name one.
uint8_t DefaultTypeFor(EventAction action) {
    switch (action) {
        case EventAction::kPowerSupplyFail:
        case EventAction::kPowerSupplyRecover:
            return kPowerSupply;
        case EventAction::kFanStop:
        case EventAction::kFanStart:
        case EventAction::kFanSpeed:
            return kCooling;
        case EventAction::kTemperature:
            return kTemperatureSensor;
        case EventAction::kVoltage:
            return kVoltageSensor;
        case EventAction::kDiskPull:
        case EventAction::kDiskInsert:
            return kArrayDeviceSlot;
        case EventAction::kConnectorFail:
        case EventAction::kConnectorRecover:
            return kSasConnector;
        default:
            return 0;
    }
}

EventSpec ParseEvent(const json& described, size_t index) {
    const std::string where = "events[" + std::to_string(index) + "]";
    EventSpec event;
    event.at_seconds = Get<int64_t>(described, "at", 0);
    event.action = ParseAction(Get<std::string>(described, "action", ""), where);
    event.type = described.contains("type") ? ParseType(described["type"], where)
                                            : DefaultTypeFor(event.action);
    event.subenclosure = Get<uint8_t>(described, "subenclosure", 0);
    const long element = Get<long>(described, "element", Get<long>(described, "slot", 1));
    if (element < 1) Fail(where, "elements and slots are numbered from 1");
    event.element = static_cast<size_t>(element - 1);
    for (const char* key : {"value", "celsius", "volts", "rpm", "on"}) {
        if (described.contains(key) && !described[key].is_null()) {
            event.value = described[key].is_boolean() ? (described[key].get<bool>() ? 1 : 0)
                                                      : described[key].get<double>();
        }
    }
    if (described.contains("disk")) event.disk = ParseDisk(described["disk"], element, where);
    return event;
}

FaultAnswer ParseAnswer(const std::string& name, const std::string& where) {
    static const std::map<std::string, FaultAnswer> answers = {
        {"busy", FaultAnswer::kBusy},
        {"unit_attention", FaultAnswer::kUnitAttention},
        {"check_condition", FaultAnswer::kCheckCondition},
        {"slow", FaultAnswer::kSlow},
        {"no_answer", FaultAnswer::kNoAnswer},
    };
    auto it = answers.find(name);
    if (it == answers.end()) Fail(where, "unknown answer \"" + name + "\"");
    return it->second;
}

FaultDescription ParseFault(const json& described, size_t index) {
    const std::string where = "faults[" + std::to_string(index) + "]";
    static const std::map<std::string, uint8_t> commands = {
        {"inquiry", 0x12},     {"receive_diagnostic", 0x1C}, {"send_diagnostic", 0x1D},
        {"read_buffer", 0x3C}, {"write_buffer", 0x3B},
    };
    FaultDescription fault;
    const std::string command = Get<std::string>(described, "command", "any");
    if (command != "any") {
        auto it = commands.find(command);
        if (it == commands.end()) Fail(where, "unknown command \"" + command + "\"");
        fault.opcode = it->second;
    }
    if (described.contains("page")) fault.page = As<uint8_t>(described["page"], where);
    if (described.contains("device")) fault.device = As<size_t>(described["device"], where);
    fault.answer = ParseAnswer(Get<std::string>(described, "answer", "busy"), where);
    fault.times = Get<int>(described, "times", -1);
    fault.from_seconds = Get<int64_t>(described, "from", 0);
    fault.delay_ms = Get<int>(described, "delay_ms", 0);
    return fault;
}

// Events about an element must name one the scenario has.
void ValidateEventTarget(const Scenario& s, const EventSpec& event, size_t index) {
    if (event.type == 0 || event.action == EventAction::kHideType ||
        event.action == EventAction::kShowType) {
        return;
    }
    for (const TypeDescription& t : s.types) {
        if (t.type == event.type && t.subenclosure == event.subenclosure) {
            if (event.element < t.elements.size()) return;
            Fail("events[" + std::to_string(index) + "]",
                 "element " + std::to_string(event.element + 1) + " does not exist");
        }
    }
    Fail("events[" + std::to_string(index) + "]",
         "no element of type " + std::to_string(event.type) + " in sub-enclosure " +
             std::to_string(event.subenclosure));
}

uint8_t LinkRateCode(double gbits) {
    if (gbits >= 12) return 11;
    if (gbits >= 6) return 10;
    if (gbits >= 3) return 9;
    return 0;
}

std::vector<uint8_t> ParseHexBytes(const json& value, const std::string& where) {
    if (!value.is_string()) Fail(where, "expected a string of hex digits");
    const std::string text = value.get<std::string>();
    if (text.empty() || text.size() % 2 != 0 ||
        !std::all_of(text.begin(), text.end(), ::isxdigit)) {
        Fail(where, "expected an even number of hex digits (" + std::to_string(text.size()) +
                        " characters)");
    }
    std::vector<uint8_t> bytes(text.size() / 2);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(std::stoul(text.substr(2 * i, 2), nullptr, 16));
    return bytes;
}

// A recorded page must be the page its key names, whole: its length field
// counts the bytes that follow the header.
RecordedBytes ParseRecorded(const json& recorded) {
    if (!recorded.is_object()) Fail("recorded", "expected an object");
    RecordedBytes out;
    const json pages = recorded.value("pages", json::object());
    if (!pages.is_object() || pages.empty()) Fail("recorded.pages", "expected the pages read");
    for (const auto& [key, value] : pages.items()) {
        const std::string where = "recorded.pages." + key;
        if (key.size() != 2 || !std::all_of(key.begin(), key.end(), ::isxdigit))
            Fail(where, "a page code is two hex digits");
        const uint8_t code = static_cast<uint8_t>(std::stoul(key, nullptr, 16));
        std::vector<uint8_t> page = ParseHexBytes(value, where);
        if (page.size() < 4 || page[0] != code) Fail(where, "the bytes are not page " + key);
        const size_t said = size_t(page[2]) << 8 | page[3];
        if (said + 4 != page.size()) {
            Fail(where, "the page says " + std::to_string(said + 4) + " bytes but holds " +
                            std::to_string(page.size()));
        }
        out.pages[code] = std::move(page);
    }
    const json regions = recorded.value("vendor_buffer", json::object());
    if (!regions.is_object()) Fail("recorded.vendor_buffer", "expected an object");
    for (const auto& [key, value] : regions.items()) {
        const std::string where = "recorded.vendor_buffer." + key;
        if (key.empty() || key.size() > 3 || !std::all_of(key.begin(), key.end(), ::isdigit))
            Fail(where, "a buffer offset is a decimal number");
        out.vendor_regions[static_cast<uint32_t>(std::stoul(key))] = ParseHexBytes(value, where);
    }
    return out;
}

Scenario ParseDocument(const json& doc) {
    if (!doc.is_object()) Fail("scenario", "expected a JSON object");
    Scenario s;
    s.name = Get<std::string>(doc, "name", "simulated enclosure");
    s.seed = Get<uint64_t>(doc, "seed", 1);
    s.generation = Get<uint32_t>(doc, "generation", 1);
    s.system_name = Get<std::string>(doc, "system_name", "");
    s.buzzer = Get<bool>(doc, "buzzer", false);
    s.uid_led = Get<bool>(doc, "uid_led", false);
    s.upgrade_revision = Get<std::string>(doc, "upgrade_revision", "");
    s.restart_seconds = Get<int64_t>(doc, "restart_seconds", 30);
    const std::string kind = Get<std::string>(doc, "kind", "generated");
    if (kind == "recorded") {
        if (!doc.contains("recorded")) Fail("recorded", "a recorded scenario needs its bytes");
        s.recorded = ParseRecorded(doc["recorded"]);
    } else if (kind != "generated") {
        Fail("kind", "expected \"generated\" or \"recorded\", got \"" + kind + "\"");
    }

    const auto logical_id =
        ParseHex<8>(doc.value("logical_id", json("500a0b0c0d0e0f00")), "logical_id");
    const std::string model = Get<std::string>(doc, "model", "m810");
    const std::string vendor = Get<std::string>(doc, "vendor", "HALVRN");
    const std::string product = Get<std::string>(doc, "product", "JB2400");
    const std::string revision = Get<std::string>(doc, "revision", "0100");

    const json subs = doc.value("subenclosures", json::array({json::object({{"id", 0}})}));
    for (size_t i = 0; i < subs.size(); ++i) {
        const json& sub = subs[i];
        SubEnclosureSpec described;
        described.id = Get<uint8_t>(sub, "id", static_cast<uint8_t>(i));
        described.logical_id = sub.contains("logical_id")
                                   ? ParseHex<8>(sub["logical_id"], "subenclosures")
                                   : logical_id;
        if (!sub.contains("logical_id"))
            described.logical_id[7] = static_cast<uint8_t>(logical_id[7] + described.id);
        described.vendor = Get<std::string>(sub, "vendor", vendor);
        described.product = Get<std::string>(sub, "product", product);
        described.revision = Get<std::string>(sub, "revision", revision);
        described.model = Get<std::string>(sub, "model", model);
        s.subenclosures.push_back(described);
    }
    if (s.subenclosures.empty() || s.subenclosures[0].id != 0) {
        Fail("subenclosures", "the first sub-enclosure must be the primary one, id 0");
    }

    const json devices = doc.value("devices", json::array());
    for (size_t i = 0; i < devices.size(); ++i) {
        const std::string where = "devices[" + std::to_string(i) + "]";
        DeviceSpec device;
        device.id = ParseHex<8>(devices[i].value("id", json()), where);
        device.path_id = Get<uint8_t>(devices[i], "path", 0);
        device.target_id = Get<uint8_t>(devices[i], "target", static_cast<uint8_t>(i));
        device.lun = Get<uint8_t>(devices[i], "lun", 0);
        device.naa16_first = Get<bool>(devices[i], "naa16_first", false);
        s.devices.push_back(device);
    }
    if (s.devices.empty()) {
        DeviceSpec device;
        std::copy(logical_id.begin(), logical_id.end(), device.id.begin());
        device.id[7] ^= 0x3E;
        s.devices.push_back(device);
    }

    const json types = doc.value("types", json::array());
    for (size_t i = 0; i < types.size(); ++i)
        s.types.push_back(ParseTypeSpec(types[i], i));
    for (const TypeDescription& t : s.types) {
        auto known = [&](const SubEnclosureSpec& sub) { return sub.id == t.subenclosure; };
        if (std::none_of(s.subenclosures.begin(), s.subenclosures.end(), known)) {
            Fail("types",
                 "a type descriptor names unknown sub-enclosure " + std::to_string(t.subenclosure));
        }
    }

    for (const json& p : doc.value("ports", json::array())) {
        PortSpec port;
        port.sas_address = ParseHex<8>(p.value("sas_address", json("0000000000000000")), "ports");
        port.link_rate_code = LinkRateCode(Get<double>(p, "link_rate", 0));
        port.controller = Get<uint8_t>(p, "controller", 1);
        port.port = Get<uint8_t>(p, "port", 1);
        port.attached = Get<bool>(p, "attached", port.link_rate_code != 0);
        // Enclosures report a non-zero attribute (the phys of the wide
        // port) for a port with a link; the port rows show only those.
        port.attribute = Get<uint8_t>(p, "attribute", port.attached ? kWidePortPhys : 0);
        s.ports.push_back(port);
    }
    for (const json& e : doc.value("expanders", json::array())) {
        s.expander_entries.push_back({Get<bool>(e, "present", true),
                                      ParseHex<8>(e.value("sas_address", json()), "expanders")});
    }
    for (const json& z : doc.value("zones", json::array()))
        s.zones.push_back(ParseHex<10>(z, "zones"));

    if (doc.contains("download")) {
        const json& d = doc["download"];
        s.download = {Get<uint8_t>(d, "status", 0), Get<uint8_t>(d, "expected_buffer_id", 2),
                      Get<uint32_t>(d, "expected_offset", 0)};
    }
    const json events = doc.value("events", json::array());
    for (size_t i = 0; i < events.size(); ++i)
        s.events.push_back(ParseEvent(events[i], i));
    for (size_t i = 0; i < s.events.size(); ++i)
        ValidateEventTarget(s, s.events[i], i);
    std::stable_sort(s.events.begin(), s.events.end(), [](const EventSpec& a, const EventSpec& b) {
        return a.at_seconds < b.at_seconds;
    });
    const json faults = doc.value("faults", json::array());
    for (size_t i = 0; i < faults.size(); ++i)
        s.faults.push_back(ParseFault(faults[i], i));
    return s;
}

}  // namespace

std::optional<Scenario> ParseScenario(const std::string& json_text, std::string& error) {
    // Checked before parsing: the parsed tree is copied and destroyed
    // recursively, so a deep enough file would overflow the stack.
    if (JsonNestingDepth(json_text, kMaxJsonNesting) > kMaxJsonNesting) {
        error = "nested more than " + std::to_string(kMaxJsonNesting) + " levels deep";
        return std::nullopt;
    }
    try {
        return ParseDocument(json::parse(json_text));
    } catch (const std::exception& e) {
        error = e.what();
        return std::nullopt;
    }
}

std::optional<Scenario> LoadScenario(const std::string& path, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    std::stringstream text;
    text << in.rdbuf();
    auto scenario = ParseScenario(text.str(), error);
    if (!scenario) error = path + ": " + error;
    return scenario;
}

}  // namespace halvorin::sim
