#include "enclosure/pages/status_decoders.h"

#include <vector>

#include "base/result_code.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/model_ref.h"
#include "enclosure/model/threshold_rules.h"
#include "enclosure/pages/page_bounds.h"
#include "enclosure/pages/status_element.h"

namespace halvorin {

namespace {

constexpr size_t kPageHeader = 8;
constexpr size_t kElementSize = 4;
constexpr uint8_t kProtocolSas = 6;

// The configuration's own type descriptors.
std::span<const ELEM_TYPE_DESC> ConfigurationTypes(const CSesDev* device) {
    return std::span<const ELEM_TYPE_DESC>(device->type_descs)
        .first(std::min<size_t>(device->type_desc_count, device->type_descs.size()));
}

// Checks a status-shaped page: header, generation code, and room for one
// element per type descriptor and per element. The usable bytes, or a code.
int CheckElementPage(const CSesDev* device, std::span<const uint8_t> received,
                     std::span<const uint8_t>& page) {
    page = WithinPageLength(received);
    if (page.size() < kPageHeader) return kShortOrTooLarge;
    if (!SameGeneration(page, device->generation)) return kGenerationChanged;
    const size_t needed = (size_t{device->type_desc_count} + device->element_count) * kElementSize;
    if (page.size() - kPageHeader < needed) return kShortOrTooLarge;
    return kOk;
}

// Calls visit(element, its 4 bytes) for every element present in the map.
template <typename Visit>
void ForEachElement(CSesDev* device, std::span<const uint8_t> page, Visit visit) {
    size_t at = kPageHeader;
    const auto types = ConfigurationTypes(device);
    for (size_t tdi = 0; tdi < types.size(); ++tdi) {
        at += kElementSize;  // the overall element
        for (size_t ei = 0; ei < types[tdi].possible_elements; ++ei, at += kElementSize) {
            Ref<CSesElem> element = Ref<CSesElem>::Adopt(AcquireElem(
                types[tdi].subenc, static_cast<uint8_t>(tdi), static_cast<uint8_t>(ei)));
            if (!element) continue;
            const std::array<uint8_t, 4> bytes = {page[at], page[at + 1], page[at + 2],
                                                  page[at + 3]};
            visit(element.get(), bytes);
        }
    }
}

void RecordMissingSamples(CSesDev* device) {
    const auto types = ConfigurationTypes(device);
    for (size_t tdi = 0; tdi < types.size(); ++tdi) {
        for (size_t ei = 0; ei < types[tdi].possible_elements; ++ei) {
            Ref<CSesElem> element = Ref<CSesElem>::Adopt(AcquireElem(
                types[tdi].subenc, static_cast<uint8_t>(tdi), static_cast<uint8_t>(ei)));
            if (element) RecordMissingSample(element.get());
        }
    }
}

bool SubEncHasCapability(const CSubEnc* subenc, uint16_t capability) {
    std::lock_guard lock(subenc->mutex);
    return subenc->capabilities & capability;
}

// A temperature threshold byte is degrees Celsius + 20; 0 is reserved and
// means none (a byte of 20 is a threshold of 0 °C).
void ApplyThresholds(CSesElem* element, const std::array<uint8_t, 4>& bytes) {
    element->thresholds = {};
    element->thresholds_set = 0;
    if (element->type == kTypeTemperature) {
        for (size_t i = 0; i < 4; ++i) {
            if (bytes[i] == 0) continue;
            element->thresholds[i] = static_cast<int16_t>(bytes[i] - 20);
            element->thresholds_set |= uint8_t(1u << i);
        }
    } else if (element->type == kTypeVoltage || element->type == kTypeCurrent) {
        element->thresholds = ThresholdsFromNominal(element->nominal, bytes);
        element->thresholds_set = ThresholdsGiven(bytes);
    }
}

// Maps a descriptor's element index to (type descriptor, element) by the SES
// rule: the index counts elements over all type descriptors of the page, with
// their overall elements when EIIOE is set.
std::optional<std::pair<uint8_t, uint8_t>> ElementAt(const CSesDev* device, size_t index,
                                                     bool overall_counted) {
    const auto types = ConfigurationTypes(device);
    size_t base = 0;
    for (size_t tdi = 0; tdi < types.size(); ++tdi) {
        const size_t span = types[tdi].possible_elements + (overall_counted ? 1 : 0);
        if (index < base + span) {
            if (overall_counted && index == base) return std::nullopt;  // an overall element
            const size_t element = index - base - (overall_counted ? 1 : 0);
            return std::make_pair(static_cast<uint8_t>(tdi), static_cast<uint8_t>(element));
        }
        base += span;
    }
    return std::nullopt;
}

void ApplySasInformation(CSesElem* element, std::span<const uint8_t> info, bool eip) {
    if (IsSlotType(element->type)) {
        // Descriptor type 0 (below 64 in byte 1): the device slot number is byte 3.
        if (!eip || info.size() < 4 || info[1] >= 64) return;
        element->type_data[kSlotNumber] = info[3];
        element->data_valid |= kDataValid;
        // The first phy descriptor (28 bytes from byte 4): its SAS address is
        // at bytes 12..19. Zero when no disk answers on that phy.
        constexpr size_t kFirstPhy = 4, kPhySize = 28, kAddressInPhy = 12;
        element->disk_sas_address = {};
        if (info[0] >= 1 && info.size() >= kFirstPhy + kPhySize)
            std::copy_n(info.begin() + kFirstPhy + kAddressInPhy, 8,
                        element->disk_sas_address.begin());
    } else if (element->type == kTypeSasExpander) {
        if (info.size() < 12) return;
        element->type_data[0] = info[0];  // phy count
        std::copy_n(info.begin() + 4, 8, element->type_data.begin() + 1);
        element->data_valid |= kDataValid;
    }
}

}  // namespace

int ApplyEnclosureStatus(CSesDev* device, int result, std::span<const uint8_t> received,
                         int64_t now) {
    if (result == kTimedOut || result == kConnectionLost) {
        if (now - device->last_status_time >= kStatusPeriodSeconds) {
            RecordMissingSamples(device);
            device->last_status_time = now;
        }
        return kTimedOut;
    }
    if (result < 0) return result;
    std::span<const uint8_t> page;
    if (int r = CheckElementPage(device, received, page); r < 0) return r;
    // One sample a minute goes to the histories. A page read sooner (the
    // re-read after a control write) still moves the state bits, so an
    // identify LED or a fault shows without waiting for the next minute.
    const bool sample = now - device->last_status_time >= kStatusPeriodSeconds;
    const StatusUse use = sample ? StatusUse::kStateAndReading : StatusUse::kStateOnly;
    ForEachElement(device, page, [&](CSesElem* e, const std::array<uint8_t, 4>& bytes) {
        ApplyStatusElement(e, bytes, use);
    });
    if (sample) device->last_status_time = now;
    device->last_read_time = now;
    return kOk;
}

int ApplyThresholdIn(CSesDev* device, std::span<const uint8_t> received) {
    std::span<const uint8_t> page;
    if (int r = CheckElementPage(device, received, page); r < 0) return r;
    ForEachElement(device, page, [&](CSesElem* e, const std::array<uint8_t, 4>& bytes) {
        // These sub-enclosures derive thresholds from the nominal voltage instead.
        if (SubEncHasCapability(e->subenc, kCapThresholdsFromNominal)) return;
        ApplyThresholds(e, bytes);
    });
    return kOk;
}

int ApplyAdditionalElementStatus(CSesDev* device, std::span<const uint8_t> received) {
    const auto page = WithinPageLength(received);
    if (page.size() < kPageHeader) return kShortOrTooLarge;
    if (!SameGeneration(page, device->generation)) return kGenerationChanged;
    // Check every descriptor before applying any.
    struct Found {
        std::pair<uint8_t, uint8_t> key;
        std::span<const uint8_t> info;
        bool eip;
        bool sas;
    };
    std::vector<Found> found;
    size_t at = kPageHeader;
    const auto types = ConfigurationTypes(device);
    for (size_t tdi = 0; tdi < types.size() && at < page.size(); ++tdi) {
        if (!(types[tdi].flags & kTypeDescHasAdditionalStatus)) continue;
        for (size_t position = 0; position < types[tdi].possible_elements && at < page.size();
             ++position) {
            if (page.size() - at < 2) return kShortOrTooLarge;
            const uint8_t flags = page[at];
            const size_t length = page[at + 1];
            if (page.size() - at - 2 < length) return kShortOrTooLarge;
            const auto descriptor = page.subspan(at, length + 2);
            at += length + 2;
            if (flags & 0x80) continue;  // INVALID: skipped, its bytes consumed
            const bool eip = flags & 0x10;
            if (eip && length < 2) return kShortOrTooLarge;
            std::optional<std::pair<uint8_t, uint8_t>> key;
            if (eip) {
                key = ElementAt(device, descriptor[3], descriptor[2] & 0x01);
            } else {
                key = std::make_pair(static_cast<uint8_t>(tdi), static_cast<uint8_t>(position));
            }
            if (!key) continue;
            found.push_back(
                {*key, descriptor.subspan(eip ? 4 : 2), eip, (flags & 0x0F) == kProtocolSas});
        }
    }
    for (const Found& f : found) {
        // An index from the page only finds an existing element, never makes one.
        Ref<CSesElem> element =
            Ref<CSesElem>::Adopt(AcquireElem(types[f.key.first].subenc, f.key.first, f.key.second));
        if (!element) continue;
        element->data_valid &= ~kDataValid;
        if (f.sas && !f.info.empty()) ApplySasInformation(element.get(), f.info, f.eip);
    }
    return kOk;
}

}  // namespace halvorin
