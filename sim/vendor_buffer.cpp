#include "sim/vendor_buffer.h"

#include <algorithm>
#include <string>

#include "base/byte_order.h"

namespace halvorin::sim {

namespace {

constexpr size_t kRegionHeader = 12;  // entry regions: entries start at byte 12
constexpr size_t kWritePrefix = 8;    // zero bytes in front of every written payload
constexpr size_t kSystemNameBytes = 32;
constexpr size_t kZoneEntrySize = 14;
constexpr size_t kPortEntrySize = 24;
constexpr size_t kDiskEntrySize = 48;
constexpr size_t kVoltageEntrySize = 4;
constexpr size_t kExpanderEntrySize = 12;

// bytes 1..3: count of the bytes that follow byte 3; byte 5: entry count.
std::vector<uint8_t> EntryRegion(uint32_t offset, size_t count, size_t entry_size) {
    std::vector<uint8_t> region(kRegionHeader + count * entry_size, 0);
    region[0] = static_cast<uint8_t>(offset);
    put_be24(&region[1], static_cast<uint32_t>(region.size() - 4));
    region[5] = static_cast<uint8_t>(count);
    return region;
}

std::vector<uint8_t> IndicatorRegion(uint32_t offset, bool on) {
    std::vector<uint8_t> region(16, 0);
    region[0] = static_cast<uint8_t>(offset);
    put_be24(&region[1], 12);
    region[12] = on ? 1 : 0;
    return region;
}

void PutPadded(uint8_t* field, const std::string& text, size_t width) {
    for (size_t i = 0; i < width; ++i)
        field[i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
}

const TypeState* PrimaryType(const EnclosureState& state, uint8_t type) {
    for (const TypeState& t : state.types) {
        if (t.type == type && t.subenclosure == 0 && !t.hidden) return &t;
    }
    return nullptr;
}

std::vector<uint8_t> SystemNameRegion(const EnclosureState& state) {
    std::vector<uint8_t> region(16 + kSystemNameBytes, 0);
    region[0] = kSystemNameRegion;
    put_be24(&region[1], static_cast<uint32_t>(region.size() - 4));
    std::copy_n(state.system_name.begin(), std::min(state.system_name.size(), kSystemNameBytes),
                region.begin() + 16);
    return region;
}

std::vector<uint8_t> ZoneRegion(const EnclosureState& state) {
    auto region = EntryRegion(kZoneRegion, state.zones.size(), kZoneEntrySize);
    for (size_t i = 0; i < state.zones.size(); ++i) {
        uint8_t* entry = &region[kRegionHeader + i * kZoneEntrySize];
        entry[0] = static_cast<uint8_t>(i);
        std::copy(state.zones[i].begin(), state.zones[i].end(), entry + 4);
    }
    return region;
}

std::vector<uint8_t> PortRegion(const EnclosureState& state) {
    auto region = EntryRegion(kPortRegion, state.ports.size(), kPortEntrySize);
    for (size_t i = 0; i < state.ports.size(); ++i) {
        const PortSpec& p = state.ports[i];
        uint8_t* entry = &region[kRegionHeader + i * kPortEntrySize];
        std::copy(p.sas_address.begin(), p.sas_address.end(), entry);
        entry[16] = p.link_rate_code;
        entry[17] = p.attribute;
        entry[19] = static_cast<uint8_t>((p.controller & 0x3F) | (p.attached ? 0x40 : 0x00));
        entry[20] = p.port;
    }
    return region;
}

std::vector<uint8_t> DiskRegion(const EnclosureState& state) {
    const TypeState* slots = PrimaryType(state, kArrayDeviceSlot);
    const size_t count = slots ? slots->elements.size() : 0;
    auto region = EntryRegion(kDiskRegion, count, kDiskEntrySize);
    for (size_t i = 0; i < count; ++i) {
        uint8_t* entry = &region[kRegionHeader + i * kDiskEntrySize];
        entry[0] = static_cast<uint8_t>(i);
        const Disk disk = slots->elements[i].disk.value_or(Disk{});
        PutPadded(entry + 4, disk.vendor, 8);
        PutPadded(entry + 12, disk.product, 16);
        PutPadded(entry + 28, disk.serial, 20);
    }
    return region;
}

std::vector<uint8_t> NominalVoltageRegion(const EnclosureState& state) {
    const TypeState* sensors = PrimaryType(state, kVoltageSensor);
    const size_t count = sensors ? sensors->elements.size() : 0;
    auto region = EntryRegion(kNominalVoltageRegion, count, kVoltageEntrySize);
    for (size_t i = 0; i < count; ++i) {
        const double volts = sensors->elements[i].described.nominal;
        put_be16(&region[kRegionHeader + i * kVoltageEntrySize + 2],
                 static_cast<uint32_t>(std::clamp(volts * 100 + 0.5, 0.0, 65535.0)));
    }
    return region;
}

std::vector<uint8_t> ExpanderRegion(const EnclosureState& state) {
    auto region = EntryRegion(kExpanderRegion, state.expander_entries.size(), kExpanderEntrySize);
    for (size_t i = 0; i < state.expander_entries.size(); ++i) {
        uint8_t* entry = &region[kRegionHeader + i * kExpanderEntrySize];
        entry[0] = state.expander_entries[i].present ? 1 : 0;
        std::copy(state.expander_entries[i].sas_address.begin(),
                  state.expander_entries[i].sas_address.end(), entry + 4);
    }
    return region;
}

bool PrefixIsZero(std::span<const uint8_t> data) {
    return data.size() >= kWritePrefix &&
           std::all_of(data.begin(), data.begin() + kWritePrefix, [](uint8_t b) { return b == 0; });
}

VendorWriteResult WriteZones(EnclosureState& state, std::span<const uint8_t> data) {
    if (data.size() < 8) return VendorWriteResult::kRejected;
    const size_t count = data[1];
    if (data.size() != 8 + count * kZoneEntrySize) return VendorWriteResult::kRejected;
    std::vector<ZoneBits> zones(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* entry = &data[8 + i * kZoneEntrySize];
        if (entry[0] != i) return VendorWriteResult::kRejected;
        std::copy_n(entry + 4, zones[i].size(), zones[i].begin());
    }
    state.zones = std::move(zones);
    return VendorWriteResult::kApplied;
}

}  // namespace

std::optional<std::vector<uint8_t>> ReadVendorRegion(const EnclosureState& state, uint32_t offset) {
    switch (offset) {
        case kBuzzerRegion:
            return IndicatorRegion(offset, state.buzzer);
        case kUidLedRegion:
            return IndicatorRegion(offset, state.uid_led);
        case kSystemNameRegion:
            return SystemNameRegion(state);
        case kZoneRegion:
            return ZoneRegion(state);
        case kPortRegion:
            return PortRegion(state);
        case kDiskRegion:
            return DiskRegion(state);
        case kNominalVoltageRegion:
            return NominalVoltageRegion(state);
        case kExpanderRegion:
            return ExpanderRegion(state);
        default:
            return std::nullopt;
    }
}

VendorWriteResult WriteVendorRegion(EnclosureState& state, uint32_t offset,
                                    std::span<const uint8_t> data) {
    switch (offset) {
        case kCommandRegion:
            if (data.size() != 3 || data[1] != 0 || data[2] != 0)
                return VendorWriteResult::kRejected;
            if (data[0] == kRestartCommand) return VendorWriteResult::kRestart;
            if (data[0] == kShutdownCommand) return VendorWriteResult::kShutdown;
            return VendorWriteResult::kRejected;
        case kBuzzerRegion:
            // The only request is "mute".
            if (data.size() != kWritePrefix + 4 || !PrefixIsZero(data) || data[8] != 0) {
                return VendorWriteResult::kRejected;
            }
            state.buzzer = false;
            return VendorWriteResult::kApplied;
        case kUidLedRegion:
            if (data.size() != kWritePrefix + 4 || !PrefixIsZero(data) || data[8] > 1) {
                return VendorWriteResult::kRejected;
            }
            state.uid_led = data[8] == 1;
            return VendorWriteResult::kApplied;
        case kSystemNameRegion: {
            if (data.size() != kWritePrefix + 4 + kSystemNameBytes || !PrefixIsZero(data)) {
                return VendorWriteResult::kRejected;
            }
            const uint8_t* name = &data[kWritePrefix + 4];
            const size_t length = std::find(name, name + kSystemNameBytes, 0) - name;
            state.system_name.assign(reinterpret_cast<const char*>(name), length);
            return VendorWriteResult::kApplied;
        }
        case kZoneRegion:
            return WriteZones(state, data);
        default:
            return VendorWriteResult::kRejected;
    }
}

}  // namespace halvorin::sim
