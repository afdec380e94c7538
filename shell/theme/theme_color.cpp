#include "shell/theme/theme_color.h"

#include "shell/theme/theme_resources.h"

namespace halvorin {

ColorRef LoadThemeColor(int id, ColorRef default_colour) {
    const auto bytes = FindTableEntry("theme/COLOR.tsv", id);
    if (!bytes || bytes->size() != 4) return default_colour;
    ColorRef value = 0;
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        const uint32_t byte = (*bytes)[i].toUInt(&ok, 16);
        if (!ok || byte > 0xFF) return default_colour;
        value |= byte << (8 * i);
    }
    return value;
}

QColor ToQColor(ColorRef colour) {
    return QColor(colour & 0xFF, colour >> 8 & 0xFF, colour >> 16 & 0xFF);
}

QColor LoadThemeQColor(int id, ColorRef default_colour) {
    return ToQColor(LoadThemeColor(id, default_colour));
}

}  // namespace halvorin
