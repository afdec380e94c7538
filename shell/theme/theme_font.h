// FONTSIZE resources: 4 bytes each, read as one little-endian value: the
// font height in pixels (a cell height) in the low 16 bits, the weight (400
// normal, 700 bold) in the high 16 bits. An English copy and a Traditional
// Chinese one; the interface language picks.
#pragma once

#include <QFont>
#include <QString>
#include <cstdint>

namespace halvorin {

constexpr uint32_t FontSize(uint16_t height, uint16_t weight) {
    return uint32_t(height) | uint32_t(weight) << 16;
}

// What a window asks the platform for: every other attribute stays zero
// (not italic, not underlined, default character set and pitch).
struct FontDescription {
    int height = 0;   // cell height in pixels
    int weight = 0;   // 0 = the platform's default
    QString face;     // the application's face name
    int quality = 0;  // 5 = ClearType, i.e. smooth
};

inline constexpr int kClearTypeQuality = 5;

// The description of FONTSIZE `id`, or of `default_value` when the
// resource is missing in both the interface language's copy and the
// English one.
FontDescription LoadThemeFont(int id, uint32_t default_value, const QString& face);

// The font to draw with: its line height (ascent + descent) is the
// description's cell height, as a positive height asks for.
QFont CreateThemeFont(const FontDescription& description);

// The font of FONTSIZE `id` in the application's face.
QFont LoadAppFont(int id, uint32_t default_value);

}  // namespace halvorin
