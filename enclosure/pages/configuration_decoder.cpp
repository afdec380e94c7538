#include "enclosure/pages/configuration_decoder.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "base/result_code.h"
#include "enclosure/model/element_naming.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/model_ref.h"
#include "enclosure/model/ses_domain.h"
#include "enclosure/pages/page_bounds.h"

namespace halvorin {

namespace {

constexpr size_t kPageHeader = 8;
constexpr size_t kMinimumPageLength = 44;  // the length field must be above 43
constexpr size_t kEnclosureDescriptorMinimum = 40;
constexpr size_t kTypeHeaderSize = 4;
constexpr size_t kDescriptorHeader = 4;

// The two pages, read but not yet applied: views into the received bytes.
struct EnclosureEntry {
    uint8_t id = 0;
    std::array<uint8_t, 8> logical_id{};
    std::span<const uint8_t> descriptor;
};
struct TypeEntry {
    ELEM_TYPE_DESC desc;  // without its sub-enclosure, which may not exist yet
    uint8_t subenc_id = 0;
    std::vector<std::span<const uint8_t>> element_texts;
};
struct ParsedConfiguration {
    std::vector<EnclosureEntry> enclosures;
    std::vector<TypeEntry> types;
};

bool ListsSubEnclosure(const ParsedConfiguration& parsed, uint8_t id) {
    return std::any_of(parsed.enclosures.begin(), parsed.enclosures.end(),
                       [&](const EnclosureEntry& e) { return e.id == id; });
}

int ReadEnclosureDescriptors(std::span<const uint8_t> page, size_t& at, ParsedConfiguration& out,
                             size_t& header_count) {
    const size_t descriptors = size_t{page[1]} + 1;
    header_count = 0;
    for (size_t i = 0; i < descriptors; ++i) {
        if (page.size() - at < kEnclosureDescriptorMinimum) return kShortOrTooLarge;
        const size_t length = size_t{page[at + 3]} + 4;
        if (length < kEnclosureDescriptorMinimum || page.size() - at < length)
            return kShortOrTooLarge;
        EnclosureEntry entry;
        entry.descriptor = page.subspan(at, length);
        entry.id = entry.descriptor[1];
        std::copy_n(entry.descriptor.begin() + 4, 8, entry.logical_id.begin());
        // An unsupported model refuses the whole page.
        if (!IsSupportedModel(entry.descriptor)) return kUnsupportedModel;
        header_count += entry.descriptor[2];
        out.enclosures.push_back(entry);
        at += length;
    }
    return kOk;
}

int ReadTypeDescriptors(std::span<const uint8_t> page, size_t& at, size_t count,
                        ParsedConfiguration& out) {
    if (count > kMaxConfigurationTypeDescriptors) return kShortOrTooLarge;
    if (page.size() - at < count * kTypeHeaderSize) return kShortOrTooLarge;
    std::map<std::pair<uint8_t, uint8_t>, uint8_t> occurrences;  // (sub-enclosure, type)
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* header = &page[at + i * kTypeHeaderSize];
        TypeEntry entry;
        entry.desc.type = header[0];
        entry.desc.possible_elements = header[1];
        entry.subenc_id = header[2];
        entry.desc.text_length = header[3];
        if (!ListsSubEnclosure(out, entry.subenc_id)) return kGeneralFailure;
        entry.desc.flags = HasAdditionalStatus(entry.desc.type) ? kTypeDescHasAdditionalStatus : 0;
        entry.desc.ordinal = ++occurrences[{entry.subenc_id, entry.desc.type}];
        out.types.push_back(std::move(entry));
    }
    // A type that occurs once in its sub-enclosure has ordinal 0.
    for (TypeEntry& t : out.types) {
        if (occurrences[{t.subenc_id, t.desc.type}] == 1) t.desc.ordinal = 0;
    }
    at += count * kTypeHeaderSize;
    for (TypeEntry& t : out.types) {
        if (page.size() - at < t.desc.text_length) return kShortOrTooLarge;
        std::memcpy(t.desc.text, &page[at], t.desc.text_length);
        t.desc.text[t.desc.text_length] = '\0';
        at += t.desc.text_length;
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

int ReadElementTexts(std::span<const uint8_t> page, ParsedConfiguration& out) {
    size_t at = kPageHeader;
    for (TypeEntry& t : out.types) {
        if (!NextDescriptor(page, at)) return kShortOrTooLarge;  // the overall descriptor
        for (size_t ei = 0; ei < t.desc.possible_elements; ++ei) {
            auto text = NextDescriptor(page, at);
            if (!text) return kShortOrTooLarge;
            t.element_texts.push_back(*text);
        }
    }
    return kOk;
}

// Both pages whole, or the code that refuses them; touches no model object.
int ParseConfiguration(std::span<const uint8_t> configuration, std::span<const uint8_t> descriptors,
                       ParsedConfiguration& out) {
    size_t at = kPageHeader;
    size_t header_count = 0;
    if (int r = ReadEnclosureDescriptors(configuration, at, out, header_count); r < 0) return r;
    if (int r = ReadTypeDescriptors(configuration, at, header_count, out); r < 0) return r;
    return ReadElementTexts(descriptors, out);
}

// References the apply step took; given back whatever the outcome.
struct Applied {
    std::vector<Ref<CSubEnc>> subencs;
    std::map<CSubEnc*, std::vector<uint32_t>> named;  // element keys per sub-enclosure

    CSubEnc* Find(uint8_t id) const {
        for (const Ref<CSubEnc>& s : subencs) {
            if (s->id == id) return s.get();
        }
        return nullptr;
    }
};

int ApplySubEnclosures(CSesDev* device, const ParsedConfiguration& parsed, Applied& applied) {
    for (const EnclosureEntry& entry : parsed.enclosures) {
        Ref<CSubEnc> subenc =
            Ref<CSubEnc>::Adopt(GetOrCreateSubEnc(device, entry.id, entry.logical_id));
        if (!subenc) return kOutOfMemory;
        if (int r = ApplyEnclosureDescriptor(subenc.get(), entry.descriptor); r < 0) return r;
        if (subenc->capabilities & kCapStatusAfterDescriptors) {
            device->SetFlags(kDeviceStatusAfterDescriptors);
        }
        applied.subencs.push_back(std::move(subenc));
    }
    return kOk;
}

int ApplyElements(const ParsedConfiguration& parsed, std::vector<ELEM_TYPE_DESC>& types,
                  Applied& applied) {
    for (size_t tdi = 0; tdi < parsed.types.size(); ++tdi) {
        const TypeEntry& t = parsed.types[tdi];
        ELEM_TYPE_DESC d = t.desc;
        d.subenc = applied.Find(t.subenc_id);
        for (size_t ei = 0; ei < t.element_texts.size(); ++ei) {
            Ref<CSesElem> element = Ref<CSesElem>::Adopt(
                GetOrCreateElem(d.subenc, static_cast<uint8_t>(tdi), static_cast<uint8_t>(ei),
                                d.type, t.element_texts[ei]));
            if (!element) return kOutOfMemory;
            applied.named[d.subenc].push_back(element->key());
        }
        types.push_back(d);
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

    ParsedConfiguration parsed;
    if (int r = ParseConfiguration(configuration, descriptors, parsed); r < 0) return r;

    Applied applied;
    std::vector<ELEM_TYPE_DESC> types;
    if (int r = ApplySubEnclosures(device, parsed, applied); r < 0) return r;
    if (int r = ApplyElements(parsed, types, applied); r < 0) return r;

    // Everything fitted: sweep out what the configuration no longer lists.
    std::vector<uint8_t> kept_ids;
    for (const Ref<CSubEnc>& subenc : applied.subencs) {
        SweepElements(subenc.get(), applied.named[subenc.get()]);
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
