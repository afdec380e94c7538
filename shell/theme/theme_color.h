// COLOR resources: 4 bytes each (red, green, blue and a fourth byte), read
// as one little-endian value and used unchanged, 0x00BBGGRR for a zero
// fourth byte. Windows look their colours up once, when they are created.
#pragma once

#include <QColor>
#include <cstdint>

namespace halvorin {

using ColorRef = uint32_t;

constexpr ColorRef Rgb(uint8_t red, uint8_t green, uint8_t blue) {
    return ColorRef(red) | ColorRef(green) << 8 | ColorRef(blue) << 16;
}

// The colour of the resource, or `default_colour` when it is missing or
// malformed. No cache: each call reads the table.
ColorRef LoadThemeColor(int id, ColorRef default_colour);

// The colour to paint with (the fourth byte carries no colour).
QColor ToQColor(ColorRef colour);

// The two in one: the resource's colour, ready to paint with.
QColor LoadThemeQColor(int id, ColorRef default_colour);

}  // namespace halvorin
