// UTF-16 text as the wire and the model carry it (computer names, element
// names), with conversions to and from the UTF-8 used everywhere else.
#pragma once

#include <string>
#include <string_view>

namespace halvorin {

std::u16string Utf8ToUtf16(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

bool IsValidUtf8(std::string_view text);
// `text` with every byte that is not part of a well-formed UTF-8 sequence
// replaced by U+FFFD: what a device reports is made printable once, where it
// enters the model, so every reader (JSON, metrics labels, the window) can
// take it as text.
std::string SanitizedUtf8(std::string_view text);

// The longest start of `text` that is at most `max_bytes` long and does not
// end inside a character (no continuation byte is left without its lead).
std::string_view Utf8Prefix(std::string_view text, size_t max_bytes);

// Case-insensitive comparison as computer names are compared: simple
// per-code-unit lower-casing of ASCII and the Latin-1, Greek and Cyrillic
// letters whose lower-case forms are single units.
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);
char16_t FoldCase(char16_t c);

}  // namespace halvorin
