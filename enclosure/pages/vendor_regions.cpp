#include "enclosure/pages/vendor_regions.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/byte_order.h"
#include "base/result_code.h"
#include "base/utf16.h"
#include "enclosure/model/element_naming.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/model_ref.h"
#include "enclosure/model/threshold_rules.h"

namespace halvorin {

namespace {

constexpr size_t kEntriesStart = 12;
constexpr size_t kDiskEntry = 48;
constexpr size_t kVoltageEntry = 4;
constexpr size_t kPortEntry = 24;
constexpr size_t kZoneEntry = 14;
constexpr size_t kExpanderEntry = 12;
constexpr size_t kIndicatorMinimum = 16;
constexpr size_t kSystemNameMinimum = 48;

// The entries of a region: bytes 1..3 count the bytes after byte 3, byte 5
// the entries, which start at byte 12. Nothing when the region is short.
std::optional<std::pair<size_t, std::span<const uint8_t>>> Entries(std::span<const uint8_t> region,
                                                                   size_t entry_size) {
    if (region.size() < kEntriesStart) return std::nullopt;
    const size_t following = be24(&region[1]);
    const size_t count = region[5];
    if (region.size() - 4 < following || following < 8 + count * entry_size) return std::nullopt;
    return std::make_pair(count, region.subspan(kEntriesStart, count * entry_size));
}

Ref<CSubEnc> PrimarySubEnc(CSesDev* device) {
    return Ref<CSubEnc>::Adopt(AcquireSubEnc(device, 0));
}

// A blank-padded text field, trailing blanks cut, into a zero-terminated slot.
void StoreText(std::array<uint8_t, 48>& data, size_t offset, const uint8_t* field, size_t width) {
    size_t length = width;
    while (length > 0 && (field[length - 1] == ' ' || field[length - 1] == 0))
        --length;
    std::fill_n(data.begin() + offset, width + 1, 0);
    std::copy_n(field, length, data.begin() + offset);
}

std::optional<uint8_t> ConfigurationDescriptor(const CSesDev* device, const CSubEnc* subenc,
                                               uint8_t type) {
    uint8_t index = kNoTypeDescriptor;
    if (FindTypeDescriptor(device, subenc, type, index) != kOk ||
        index >= device->type_desc_count) {
        return std::nullopt;
    }
    return index;
}

// The system's own descriptor of a vendor type on sub-enclosure 0, appended
// the first time with the entry count as its (from then on fixed) size.
std::optional<uint8_t> SystemDescriptor(CSesDev* device, CSubEnc* subenc, uint8_t type,
                                        size_t entries) {
    uint8_t index = kNoTypeDescriptor;
    if (FindTypeDescriptor(device, subenc, type, index) == kOk) return index;
    if (device->type_descs.size() >= kNoTypeDescriptor) return std::nullopt;
    ELEM_TYPE_DESC d;
    d.type = type;
    d.possible_elements = static_cast<uint8_t>(entries);
    d.subenc = subenc;
    device->type_descs.push_back(d);
    return static_cast<uint8_t>(device->type_descs.size() - 1);
}

using EntryFill = void (*)(CSesElem* element, const uint8_t* entry);

int ApplySystemEntries(CSesDev* device, std::span<const uint8_t> region, uint8_t type,
                       size_t entry_size, EntryFill fill) {
    auto entries = Entries(region, entry_size);
    if (!entries) return kShortOrTooLarge;
    Ref<CSubEnc> subenc = PrimarySubEnc(device);
    if (!subenc) return kGeneralFailure;
    auto index = SystemDescriptor(device, subenc.get(), type, entries->first);
    if (!index) return kShortOrTooLarge;
    const size_t count =
        std::min<size_t>(device->type_descs[*index].possible_elements, entries->first);
    for (size_t i = 0; i < count; ++i) {
        Ref<CSesElem> element = Ref<CSesElem>::Adopt(
            GetOrCreateElem(subenc.get(), *index, static_cast<uint8_t>(i), type));
        if (!element) return kOutOfMemory;
        fill(element.get(), &entries->second[i * entry_size]);
    }
    return kOk;
}

uint8_t LinkRateGbits(uint8_t code) {
    switch (code) {
        case 9:
            return 3;
        case 10:
            return 6;
        case 11:
            return 12;
        default:
            return 0;
    }
}

void FillPort(CSesElem* element, const uint8_t* entry) {
    const int controller = entry[19] & 0x3F;
    const int port = entry[20];
    std::u16string name =
        Utf8ToUtf16("Controller " + std::to_string(controller) + " Port " + std::to_string(port));
    {
        std::lock_guard lock(element->subenc->mutex);
        element->name = std::move(name);
    }
    element->raw_status[0] =
        (entry[19] & 0xC0) ? 1 : 5;  // OK when something is attached, else not installed
    element->type_data[0] = LinkRateGbits(entry[16]);
    element->type_data[1] = entry[17];
    std::copy_n(entry, 8, element->type_data.begin() + 2);
    element->data_valid |= kDataValid;
}

void FillZone(CSesElem* element, const uint8_t* entry) {
    std::copy_n(entry + 4, 10, element->type_data.begin());
    element->data_valid |= kDataValid;
}

void FillExpander(CSesElem* element, const uint8_t* entry) {
    element->raw_status = {static_cast<uint8_t>(entry[0] ? 1 : 5), 0, 0, 0};
    element->type_data[0] = 0;
    std::copy_n(entry + 4, 8, element->type_data.begin() + 1);
    element->data_valid |= kDataValid;
}

}  // namespace

int ApplyDiskIdentities(CSesDev* device, std::span<const uint8_t> region) {
    auto entries = Entries(region, kDiskEntry);
    if (!entries) return kShortOrTooLarge;
    Ref<CSubEnc> subenc = PrimarySubEnc(device);
    if (!subenc) return kGeneralFailure;
    auto index = ConfigurationDescriptor(device, subenc.get(), kTypeArrayDeviceSlot);
    if (!index) return kNotFound;
    const size_t count =
        std::min<size_t>(entries->first, device->type_descs[*index].possible_elements);
    for (size_t i = 0; i < count; ++i) {
        Ref<CSesElem> slot =
            Ref<CSesElem>::Adopt(AcquireElem(subenc.get(), *index, static_cast<uint8_t>(i)));
        if (!slot) continue;
        const uint8_t* entry = &entries->second[i * kDiskEntry];
        StoreText(slot->type_data, kDiskVendor, entry + 4, 8);
        StoreText(slot->type_data, kDiskProduct, entry + 12, 16);
        StoreText(slot->type_data, kDiskSerial, entry + 28, 20);
        slot->data_valid |= kDataValid;
    }
    return kOk;
}

int ApplyNominalVoltages(CSesDev* device, std::span<const uint8_t> region) {
    auto entries = Entries(region, kVoltageEntry);
    if (!entries) return kShortOrTooLarge;
    Ref<CSubEnc> subenc = PrimarySubEnc(device);
    if (!subenc) return kGeneralFailure;
    auto index = ConfigurationDescriptor(device, subenc.get(), kTypeVoltage);
    if (!index) return kNotFound;
    bool derive;
    {
        std::lock_guard lock(subenc->mutex);
        derive = subenc->capabilities & kCapThresholdsFromNominal;
    }
    const size_t count =
        std::min<size_t>(entries->first, device->type_descs[*index].possible_elements);
    for (size_t i = 0; i < count; ++i) {
        Ref<CSesElem> sensor =
            Ref<CSesElem>::Adopt(AcquireElem(subenc.get(), *index, static_cast<uint8_t>(i)));
        if (!sensor) continue;
        sensor->nominal = static_cast<int16_t>(be16(&entries->second[i * kVoltageEntry + 2]));
        if (derive)
            sensor->thresholds = ThresholdsFromNominal(sensor->nominal, kDefaultNominalMargins);
        sensor->thresholds_set = ThresholdsGiven(kDefaultNominalMargins);
    }
    return kOk;
}

int ApplyPortEntries(CSesDev* device, std::span<const uint8_t> region) {
    return ApplySystemEntries(device, region, kTypePortEntry, kPortEntry, FillPort);
}

int ApplyZoneEntries(CSesDev* device, std::span<const uint8_t> region) {
    return ApplySystemEntries(device, region, kTypeZoneEntry, kZoneEntry, FillZone);
}

int ApplyExpanderEntries(CSesDev* device, std::span<const uint8_t> region) {
    return ApplySystemEntries(device, region, kTypeExpanderEntry, kExpanderEntry, FillExpander);
}

int ApplyIndicator(CSesDev* device, uint16_t indicator, std::span<const uint8_t> region) {
    if (region.size() < kIndicatorMinimum) return kOk;
    Ref<CSubEnc> subenc = PrimarySubEnc(device);
    if (!subenc) return kGeneralFailure;
    std::lock_guard lock(subenc->mutex);
    if (region[12] == 1) subenc->indicators |= indicator;
    if (region[12] == 0) subenc->indicators &= ~indicator;
    return kOk;
}

int ApplySystemName(CSesDev* device, std::span<const uint8_t> region) {
    if (region.size() < kSystemNameMinimum) return kOk;
    Ref<CSubEnc> subenc = PrimarySubEnc(device);
    if (!subenc) return kGeneralFailure;
    std::lock_guard lock(subenc->mutex);
    const auto* name = reinterpret_cast<const char*>(&region[16]);
    const std::string text = SanitizedUtf8(std::string_view(name, strnlen(name, 32)));
    std::memset(subenc->system_name, 0, sizeof subenc->system_name);
    std::memcpy(subenc->system_name, text.data(),
                std::min(text.size(), sizeof subenc->system_name - 1));
    return kOk;
}

}  // namespace halvorin
