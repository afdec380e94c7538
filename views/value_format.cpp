#include "views/value_format.h"

#include <cstdio>

namespace halvorin {

namespace {

std::u16string Widen(const char* text) {
    std::u16string wide;
    while (*text)
        wide.push_back(char16_t(*text++));
    return wide;
}

}  // namespace

std::u16string FormatValue(ValueFormat format, int64_t tenths) {
    // The sign is printed once, in front; the parts are cut from the magnitude.
    const char* sign = tenths < 0 ? "-" : "";
    const unsigned long long magnitude =
        tenths < 0 ? 0ull - static_cast<unsigned long long>(tenths) : tenths;
    char text[48];
    switch (format) {
        case ValueFormat::kWholeNumber:
            std::snprintf(text, sizeof text, "%s%llu", sign, magnitude / 10);
            break;
        case ValueFormat::kOneDecimal:
            std::snprintf(text, sizeof text, "%s%llu.%llu", sign, magnitude / 10, magnitude % 10);
            break;
        case ValueFormat::kTwoDecimals:
            std::snprintf(text, sizeof text, "%s%llu.%02llu", sign, magnitude / 1000,
                          magnitude % 1000 / 10);
            break;
        case ValueFormat::kNone:
            std::snprintf(text, sizeof text, "%s%llu", sign, magnitude / 10);
            break;
    }
    // A value that rounds to zero prints without a sign ("0.00", not "-0.00").
    std::u16string wide = Widen(text);
    if (wide.find_first_of(u"123456789") == std::u16string::npos && *sign) wide.erase(0, 1);
    return wide;
}

}  // namespace halvorin
