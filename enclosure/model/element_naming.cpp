#include "enclosure/model/element_naming.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <mutex>
#include <optional>

#include "base/string_table.h"
#include "base/text_format.h"
#include "base/utf16.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/sub_enc.h"
#include "enclosure/model/threshold_rules.h"

namespace halvorin {

namespace {

constexpr size_t kMaxNameLength = 127;
constexpr size_t kEnclosureDescriptorMinimum = 40;

std::mutex& NamesMutex() {
    static std::mutex mutex;
    return mutex;
}

std::map<uint8_t, std::u16string>& Names() {
    static std::map<uint8_t, std::u16string> names = ElementTypeNamesFromStrings();
    return names;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

// A scanf-style %d: blanks, an optional sign, at least one digit. The value
// saturates instead of overflowing.
std::optional<long> ReadInteger(std::string_view text, size_t& at) {
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    const size_t first = at;
    long value = 0;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
        value = std::min(value * 10 + (text[at++] - '0'), 1'000'000L);
    }
    if (at == first) return std::nullopt;
    return negative ? -value : value;
}

// Hundredths of the digits after the decimal point: "3" -> 30, "30" -> 30,
// "25" -> 25, "125" -> 12.
long FractionInHundredths(std::string_view text, size_t at) {
    long hundredths = 0;
    int digits = 0;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) && digits < 2) {
        hundredths = hundredths * 10 + (text[at++] - '0');
        ++digits;
    }
    return digits == 1 ? hundredths * 10 : hundredths;
}

// "+W.FV" after the position of a '+': whole volts and the fraction.
std::optional<long> VoltsAfterPlus(std::string_view text, size_t plus) {
    size_t at = plus + 1;
    auto whole = ReadInteger(text, at);
    if (!whole) return std::nullopt;
    long hundredths = *whole * 100;
    if (at < text.size() && text[at] == '.' && at + 1 < text.size() &&
        std::isdigit(static_cast<unsigned char>(text[at + 1]))) {
        hundredths += (*whole < 0 ? -1 : 1) * FractionInHundredths(text, at + 1);
    }
    return hundredths;
}

std::string TrimTrailingBlanks(std::string text) {
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

// A fixed field up to its first zero byte, trailing blanks removed.
std::string Field(std::span<const uint8_t> bytes) {
    std::string text(bytes.begin(), std::find(bytes.begin(), bytes.end(), 0));
    return TrimTrailingBlanks(text);
}

template <size_t N>
void CopyText(char (&destination)[N], const std::string& raw) {
    const std::string text = SanitizedUtf8(raw);
    const size_t n = Utf8Prefix(text, N - 1).size();
    std::copy_n(text.begin(), n, destination);
    std::fill(destination + n, destination + N, '\0');
}

}  // namespace

std::map<uint8_t, std::u16string> ElementTypeNamesFromStrings() {
    static constexpr std::pair<uint8_t, int> kTypeStrings[] = {
        {kTypeDeviceSlot, 64},      {kTypePowerSupply, 68}, {kTypeCooling, 30},
        {kTypeTemperature, 35},     {kTypeVoltage, 40},     {kTypeCurrent, 45},
        {kTypeArrayDeviceSlot, 64}, {kTypeSasExpander, 50}, {kTypeSasConnector, 54},
        {kTypeZoneEntry, 61},       {kTypePortEntry, 72},
    };
    std::map<uint8_t, std::u16string> names;
    for (const auto& [type, string_id] : kTypeStrings) {
        names[type] = FormatString(LoadString(string_id), {std::u16string()});
    }
    return names;
}

void SetElementTypeNames(std::map<uint8_t, std::u16string> names) {
    std::lock_guard lock(NamesMutex());
    Names() = std::move(names);
}

std::u16string ElementTypeName(uint8_t type) {
    std::lock_guard lock(NamesMutex());
    auto it = Names().find(type);
    return it == Names().end() ? std::u16string() : it->second;
}

std::u16string DefaultElementName(uint8_t type, uint8_t element_index) {
    std::u16string name =
        ElementTypeName(type) + u" " + Utf8ToUtf16(std::to_string(element_index + 1));
    if (name.size() > kMaxNameLength) name.resize(kMaxNameLength);
    return name;
}

std::u16string TextFromDevice(std::string_view text) {
    if (IsValidUtf8(text)) return Utf8ToUtf16(text);
    std::u16string latin1;
    for (unsigned char c : text)
        latin1 += static_cast<char16_t>(c);
    return latin1;
}

int16_t NominalFromText(std::string_view text) {
    // "%*[^+]+%d.%dV": at least one character before the first '+'.
    const size_t plus = text.find('+');
    std::optional<long> hundredths;
    if (plus != std::string_view::npos && plus > 0) hundredths = VoltsAfterPlus(text, plus);
    // "+%d.%dV": the text starts with the '+'.
    if (!hundredths && !text.empty() && text[0] == '+') hundredths = VoltsAfterPlus(text, 0);
    if (!hundredths) return 0;
    return static_cast<int16_t>(std::clamp<long>(*hundredths, std::numeric_limits<int16_t>::min(),
                                                 std::numeric_limits<int16_t>::max()));
}

void NameFromDescriptor(CSesElem* element, std::span<const uint8_t> bytes) {
    if (bytes.empty()) return;
    // A bounded, terminated copy: patterns never read past the text.
    const std::string text(bytes.begin(), std::find(bytes.begin(), bytes.end(), 0));
    CSubEnc* subenc = element->subenc;
    {
        std::lock_guard lock(subenc->mutex);
        element->descriptor = TrimTrailingBlanks(SanitizedUtf8(text));
    }
    if (element->type == kTypeVoltage && element->nominal == 0) {
        const int16_t nominal = NominalFromText(text);
        if (nominal != 0) {
            element->nominal = nominal;
            if (subenc->capabilities & kCapThresholdsFromNominal) {
                element->thresholds = ThresholdsFromNominal(nominal, kDefaultNominalMargins);
                element->thresholds_set = ThresholdsGiven(kDefaultNominalMargins);
            }
        }
    }
    if (element->type != kTypeTemperature && element->type != kTypeVoltage &&
        element->type != kTypeCurrent) {
        return;
    }
    std::u16string name;
    const auto controller = [&](size_t skip) {
        return u"Controller" + Utf8ToUtf16(std::to_string(subenc->controller_number)) + u" " +
               TextFromDevice(std::string_view(text).substr(skip));
    };
    if (StartsWithIgnoringCase(text, "onboard ")) {
        name = controller(8);
    } else if (StartsWithIgnoringCase(text, "onboard")) {
        name = controller(7);
    } else {
        name = TextFromDevice(text);
    }
    if (name.size() > kMaxNameLength) name.resize(kMaxNameLength);
    std::lock_guard lock(subenc->mutex);
    element->name = std::move(name);
}

namespace {

// The vendor-specific bytes after the first 40 of a checked descriptor; none
// when its length field claims fewer than 40 in all.
std::span<const uint8_t> VendorInformation(std::span<const uint8_t> d) {
    const size_t length = size_t{d[3]} + 4;
    if (length <= kEnclosureDescriptorMinimum) return {};
    return d.subspan(kEnclosureDescriptorMinimum, length - kEnclosureDescriptorMinimum);
}

}  // namespace

bool IsSupportedModel(std::span<const uint8_t> d) {
    if (d.size() < kEnclosureDescriptorMinimum || d.size() < size_t{d[3]} + 4) return false;
    const auto vendor_info = VendorInformation(d);
    const std::string model(vendor_info.begin(),
                            std::find(vendor_info.begin(), vendor_info.end(), 0));
    return model.size() == kSupportedModel.size() && StartsWithIgnoringCase(model, kSupportedModel);
}

int ApplyEnclosureDescriptor(CSubEnc* subenc, std::span<const uint8_t> d) {
    if (d.size() < kEnclosureDescriptorMinimum || d.size() < size_t{d[3]} + 4)
        return kShortOrTooLarge;
    const size_t length = size_t{d[3]} + 4;
    std::lock_guard lock(subenc->mutex);
    subenc->type_desc_count = d[2];
    std::copy_n(d.begin() + 4, 8, subenc->logical_id.begin());
    CopyText(subenc->vendor, Field(d.subspan(12, 8)));
    CopyText(subenc->product, Field(d.subspan(20, 16)));
    // "%c.%c.%c" of the first three characters of the product revision level.
    std::string revision = {static_cast<char>(d[36]), '.', static_cast<char>(d[37]), '.',
                            static_cast<char>(d[38])};
    revision.resize(std::min(revision.find('\0'), revision.size()));
    CopyText(subenc->firmware_revision, TrimTrailingBlanks(revision));
    const auto vendor_info = VendorInformation(d);
    subenc->vendor_text_length = static_cast<uint8_t>(vendor_info.size());
    std::fill(std::begin(subenc->model_text), std::end(subenc->model_text), '\0');
    std::copy(vendor_info.begin(), vendor_info.end(), subenc->model_text);

    if (!IsSupportedModel(d)) {
        subenc->capabilities |= kUnsupportedModelCapabilities;
        return kUnsupportedModel;
    }
    subenc->capabilities |= kSupportedModelCapabilities;
    return static_cast<int>(length);
}

}  // namespace halvorin
