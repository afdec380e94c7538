// A simulated enclosure as a scenario file describes it: what the JBOD is
// made of, how it starts, what happens to it over time and which faults its
// SES devices show. sim/README.md documents the JSON format.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/protocol/ses_addr.h"
#include "sim/json_nesting.h"

namespace halvorin::sim {

using SasAddress = std::array<uint8_t, 8>;
using ZoneBits = std::array<uint8_t, 10>;

// SES element type codes the simulator knows by name.
enum SesElementType : uint8_t {
    kDeviceSlot = 0x01,
    kPowerSupply = 0x02,
    kCooling = 0x03,
    kTemperatureSensor = 0x04,
    kEscElectronics = 0x07,
    kEnclosureElement = 0x0E,
    kVoltageSensor = 0x12,
    kCurrentSensor = 0x13,
    kScsiTargetPort = 0x14,
    kScsiInitiatorPort = 0x15,
    kArrayDeviceSlot = 0x17,
    kSasExpander = 0x18,
    kSasConnector = 0x19,
};

struct Disk {
    std::string vendor;   // 8 characters travel
    std::string product;  // 16
    std::string serial;   // 20
};

struct ElementDescription {
    std::string descriptor;
    double nominal = 0;        // rpm, degrees Celsius, volts or amperes
    std::optional<Disk> disk;  // slots: nothing = empty slot
    uint8_t slot_number = 0;
    SasAddress sas_address{};  // expanders
    uint8_t phys = 0;
    bool failed = false;  // reports FAIL from the start
};

// Raw threshold-in bytes: temperatures as degrees + 20, voltages and
// currents in 0.5 % steps of the nominal value; 0 = no threshold.
struct Thresholds {
    uint8_t high_critical = 0, high_warning = 0, low_warning = 0, low_critical = 0;
};

struct TypeDescription {
    uint8_t type = 0;
    uint8_t subenclosure = 0;
    std::string text;
    std::vector<ElementDescription> elements;
    Thresholds thresholds;
    double noise = 0;  // relative (or, for temperatures, degrees) amplitude of reading noise
};

struct SubEnclosureSpec {
    uint8_t id = 0;
    std::array<uint8_t, 8> logical_id{};
    std::string vendor, product, revision;
    std::string model;  // vendor-specific enclosure information
};

struct DeviceSpec {
    DeviceId id{};
    uint8_t path_id = 0, target_id = 0, lun = 0;
    bool naa16_first = false;  // list a 16-byte NAA designator before the 8-byte one
};

struct PortSpec {
    SasAddress sas_address{};
    uint8_t link_rate_code = 0;  // 9: 3 Gbit/s, 10: 6, 11: 12
    uint8_t attribute = 0;
    uint8_t controller = 0;
    uint8_t port = 0;
    bool attached = false;
};

struct ExpanderEntrySpec {
    bool present = true;
    SasAddress sas_address{};
};

enum class EventAction {
    kPowerSupplyFail,
    kPowerSupplyRecover,
    kFanStop,
    kFanStart,
    kFanSpeed,     // value: rpm, or nothing for back to nominal
    kTemperature,  // value: degrees, or nothing for back to nominal
    kVoltage,      // value: volts, or nothing
    kDiskPull,
    kDiskInsert,
    kGenerationBump,
    kHideType,
    kShowType,
    kBuzzer,  // value: 1 sounding, 0 silent
    kConnectorFail,
    kConnectorRecover,
};

struct EventSpec {
    int64_t at_seconds = 0;
    EventAction action = EventAction::kGenerationBump;
    uint8_t type = 0;  // element type the event is about
    uint8_t subenclosure = 0;
    size_t element = 0;  // index within the first matching type descriptor
    std::optional<double> value;
    std::optional<Disk> disk;
};

enum class FaultAnswer { kBusy, kUnitAttention, kCheckCondition, kSlow, kNoAnswer };

struct FaultDescription {
    std::optional<uint8_t> opcode;  // nothing: any command
    std::optional<uint8_t> page;    // diagnostic page or vendor buffer offset
    std::optional<size_t> device;   // index into devices; nothing: every device
    FaultAnswer answer = FaultAnswer::kBusy;
    int times = -1;  // -1: for ever
    int64_t from_seconds = 0;
    int delay_ms = 0;  // kSlow
};

struct DownloadStart {
    uint8_t status = 0;  // 0 idle, or 1 in progress
    uint8_t expected_buffer_id = 2;
    uint32_t expected_offset = 0;
};

// What `halvorinctl capture` recorded of a real enclosure: the bytes of each
// SES diagnostic page and vendor buffer region the manager reads, served
// instead of generated ones.
struct RecordedBytes {
    std::map<uint8_t, std::vector<uint8_t>> pages;            // by page code
    std::map<uint32_t, std::vector<uint8_t>> vendor_regions;  // by buffer offset
};

struct Scenario {
    std::string name;
    // A "recorded" scenario serves these bytes; control writes are
    // acknowledged and change nothing.
    std::optional<RecordedBytes> recorded;
    uint64_t seed = 1;
    std::vector<DeviceSpec> devices;
    std::vector<SubEnclosureSpec> subenclosures;
    std::vector<TypeDescription> types;
    std::vector<PortSpec> ports;
    std::vector<ExpanderEntrySpec> expander_entries;
    std::vector<ZoneBits> zones;
    std::string system_name;
    bool buzzer = false;
    bool uid_led = false;
    uint32_t generation = 1;
    std::string upgrade_revision;  // revision after a completed upgrade; empty: bump the last digit
    int64_t restart_seconds = 30;
    DownloadStart download;
    std::vector<EventSpec> events;  // sorted by time
    std::vector<FaultDescription> faults;
};

// Parses a scenario; on failure returns nothing and says why in `error`
// (a file nested deeper than kMaxJsonNesting is refused unparsed).
std::optional<Scenario> ParseScenario(const std::string& json_text, std::string& error);
std::optional<Scenario> LoadScenario(const std::string& path, std::string& error);

}  // namespace halvorin::sim
