#include "enclosure/pages/configuration_decoder.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "base/result_code.h"
#include "enclosure/model/element_naming.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/ses_domain.h"
#include "enclosure/pages/page_bounds.h"

namespace halvorin {

namespace {

constexpr size_t kPageHeader = 8;
constexpr size_t kMinimumPageLength = 44;  // the length field must be above 43
constexpr size_t kEnclosureDescriptorMinimum = 40;
constexpr size_t kTypeHeaderSize = 4;
constexpr size_t kDescriptorHeader = 4;

// References this pass took; given back whatever the outcome.
struct Pass {
    std::vector<CSubEnc*> subencs;
    std::vector<CSesElem*> elements;
    std::map<CSubEnc*, std::vector<uint32_t>> named;  // element keys per sub-enclosure

    ~Pass() {
        ReleaseElements(elements);
        ReleaseSubEnclosures(subencs);
    }
    CSubEnc* Find(uint8_t id) const {
        for (CSubEnc* s : subencs) {
            if (s->id == id) return s;
        }
        return nullptr;
    }
};

int ReadEnclosureDescriptors(CSesDev* device, std::span<const uint8_t> page, size_t& at, Pass& pass,
                             size_t& header_count) {
    const size_t descriptors = size_t{page[1]} + 1;
    header_count = 0;
    for (size_t i = 0; i < descriptors; ++i) {
        if (page.size() - at < kEnclosureDescriptorMinimum) return kShortOrTooLarge;
        const size_t length = size_t{page[at + 3]} + 4;
        if (length < kEnclosureDescriptorMinimum || page.size() - at < length)
            return kShortOrTooLarge;
        const auto descriptor = page.subspan(at, length);
        std::array<uint8_t, 8> logical_id;
        std::copy_n(descriptor.begin() + 4, 8, logical_id.begin());
        CSubEnc* subenc = GetOrCreateSubEnc(device, descriptor[1], logical_id);
        if (!subenc) return kOutOfMemory;
        pass.subencs.push_back(subenc);
        const int applied = ApplyEnclosureDescriptor(subenc, descriptor);
        if (applied < 0) return applied;  // an unsupported model refuses the whole page
        if (subenc->capabilities & kCapStatusAfterDescriptors) {
            device->SetFlags(kDeviceStatusAfterDescriptors);
        }
        header_count += descriptor[2];
        at += length;
    }
    return kOk;
}

int ReadTypeDescriptors(std::span<const uint8_t> page, size_t& at, size_t count, const Pass& pass,
                        std::vector<ELEM_TYPE_DESC>& out) {
    if (count > kMaxConfigurationTypeDescriptors) return kShortOrTooLarge;
    if (page.size() - at < count * kTypeHeaderSize) return kShortOrTooLarge;
    std::map<std::pair<CSubEnc*, uint8_t>, uint8_t> occurrences;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* header = &page[at + i * kTypeHeaderSize];
        ELEM_TYPE_DESC d;
        d.type = header[0];
        d.possible_elements = header[1];
        d.subenc = pass.Find(header[2]);
        d.text_length = header[3];
        if (!d.subenc) return kGeneralFailure;
        d.flags = HasAdditionalStatus(d.type) ? kTypeDescHasAdditionalStatus : 0;
        d.ordinal = ++occurrences[{d.subenc, d.type}];
        out.push_back(d);
    }
    // A type that occurs once in its sub-enclosure has ordinal 0.
    for (ELEM_TYPE_DESC& d : out) {
        if (occurrences[{d.subenc, d.type}] == 1) d.ordinal = 0;
    }
    at += count * kTypeHeaderSize;
    for (ELEM_TYPE_DESC& d : out) {
        if (page.size() - at < d.text_length) return kShortOrTooLarge;
        std::memcpy(d.text, &page[at], d.text_length);
        d.text[d.text_length] = '\0';
        at += d.text_length;
    }
    return kOk;
}

// One descriptor of the element descriptor page: its text, or nothing when
// it does not fit.
std::optional<std::span<const uint8_t>> NextDescriptor(std::span<const uint8_t> page, size_t& at) {
    if (page.size() - at < kDescriptorHeader) return std::nullopt;
    const size_t length = be16(&page[at + 2]);
    if (page.size() - at - kDescriptorHeader < length) return std::nullopt;
    auto text = page.subspan(at + kDescriptorHeader, length);
    at += kDescriptorHeader + length;
    return text;
}

int ReadElements(std::span<const uint8_t> page, const std::vector<ELEM_TYPE_DESC>& types,
                 Pass& pass) {
    size_t at = kPageHeader;
    for (size_t tdi = 0; tdi < types.size(); ++tdi) {
        const ELEM_TYPE_DESC& d = types[tdi];
        if (!NextDescriptor(page, at)) return kShortOrTooLarge;  // the overall descriptor
        for (size_t ei = 0; ei < d.possible_elements; ++ei) {
            auto text = NextDescriptor(page, at);
            if (!text) return kShortOrTooLarge;
            CSesElem* element = GetOrCreateElem(d.subenc, static_cast<uint8_t>(tdi),
                                                static_cast<uint8_t>(ei), d.type, *text);
            if (!element) return kOutOfMemory;
            pass.elements.push_back(element);
            pass.named[d.subenc].push_back(element->key());
        }
    }
    return kOk;
}

}  // namespace

int ApplyConfiguration(CSesDev* device, std::span<const uint8_t> received_configuration,
                       std::span<const uint8_t> received_descriptors) {
    if (received_configuration.size() < kPageHeader || received_descriptors.size() < kPageHeader) {
        return kShortOrTooLarge;
    }
    const size_t length = be16(&received_configuration[2]);
    if (length < kMinimumPageLength || received_configuration.size() < length + 4)
        return kShortOrTooLarge;
    const auto configuration = received_configuration.first(length + 4);
    const auto descriptors = WithinPageLength(received_descriptors);
    if (descriptors.size() < kPageHeader ||
        !std::equal(configuration.begin() + 4, configuration.begin() + 8,
                    descriptors.begin() + 4)) {
        return descriptors.size() < kPageHeader ? kShortOrTooLarge : kGenerationChanged;
    }

    Pass pass;
    size_t at = kPageHeader;
    size_t header_count = 0;
    if (int r = ReadEnclosureDescriptors(device, configuration, at, pass, header_count); r < 0)
        return r;
    std::vector<ELEM_TYPE_DESC> types;
    if (int r = ReadTypeDescriptors(configuration, at, header_count, pass, types); r < 0) return r;
    if (int r = ReadElements(descriptors, types, pass); r < 0) return r;

    // Everything fitted: sweep out what the configuration no longer lists.
    std::vector<uint8_t> kept_ids;
    for (CSubEnc* subenc : pass.subencs) {
        SweepElements(subenc, pass.named[subenc]);
        kept_ids.push_back(subenc->id);
    }
    SweepSubEnclosures(device, kept_ids);
    {
        std::lock_guard lock(device->mutex);  // the firmware upgrade thread reads it
        std::copy_n(configuration.begin() + 4, 4, device->generation.begin());
    }
    device->type_desc_count = static_cast<uint8_t>(types.size());
    size_t elements = 0;
    for (const ELEM_TYPE_DESC& d : types)
        elements += d.possible_elements;
    device->element_count = static_cast<uint16_t>(elements);
    device->type_descs = std::move(types);
    return kOk;
}

}  // namespace halvorin
