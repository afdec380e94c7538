// printf-style formatting of the string table's formats ("%s of %s has
// failed.", "%s-%02X%02X..."), in UTF-16, with arguments whose types are
// checked at run time: a format can never read an argument that is not there.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace halvorin {

using FormatArg = std::variant<int64_t, std::u16string>;

// Supports %%, and %s %d %i %u %x %X %c with the flags '-' and '0', a width
// and, for %s, a precision. "%N$" before the flags takes argument N (from 1)
// instead of the next one, so a translation can put them in its own order
// ("%2$s (%1$s)"). A conversion without a matching argument, or of the wrong
// kind, prints nothing; unknown conversions are copied as they are.
std::u16string FormatString(std::u16string_view format, std::initializer_list<FormatArg> args);
std::u16string FormatString(std::u16string_view format, std::span<const FormatArg> args);

// Upper-cases the first character (simple case mapping of the common scripts).
std::u16string CapitalizeFirst(std::u16string text);
// Upper-cases the first character and every character after a blank
// (U+0020), leaving the others as they are ("temperature sensor #2" becomes
// "Temperature Sensor #2").
std::u16string CapitalizeWords(std::u16string text);
// Lower-cases every character the same way.
std::u16string ToLower(std::u16string text);

}  // namespace halvorin
