// Element names as the views, the tree and event messages show them, and
// the sub-enclosure identity taken from an enclosure descriptor (including
// the model check that decides whether the system accepts the enclosure).
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>

namespace halvorin {

class CSesElem;
class CSubEnc;

// Element type code -> display name. The application fills it at start-up
// from the string table of the user's language; until then the English
// table's names serve headless use.
void SetElementTypeNames(std::map<uint8_t, std::u16string> names);
std::u16string ElementTypeName(uint8_t type);
// The names from the current string table: each type's string formatted with
// an empty string for its "%s" (so type 29 is "SAS port " with its blank).
std::map<uint8_t, std::u16string> ElementTypeNamesFromStrings();

// "%s %d" of the type name and element index + 1, at most 127 characters.
std::u16string DefaultElementName(uint8_t type, uint8_t element_index);

// Applies an element descriptor text: voltage sensors learn their nominal
// voltage from it, sensors are renamed after it, other types keep their name.
void NameFromDescriptor(CSesElem* element, std::span<const uint8_t> text);

// The nominal voltage in units of 10 mV from a text such as "Controller
// +12.0V", "+5.0V" or "+3V"; 0 when the text names none.
int16_t NominalFromText(std::string_view text);

// The supported enclosure model.
inline constexpr std::string_view kSupportedModel = "m810";

// Whether an enclosure descriptor (its bytes from the configuration page)
// names the supported model in its vendor-specific information.
bool IsSupportedModel(std::span<const uint8_t> descriptor);

// Applies an enclosure descriptor (its bytes from the configuration page) to
// a sub-enclosure: descriptor length + 4, -1 when it is shorter than 40 bytes
// or its own length + 4, -23 when the model is not supported.
int ApplyEnclosureDescriptor(CSubEnc* subenc, std::span<const uint8_t> descriptor);

// An 8-bit text from the enclosure as UTF-16: UTF-8 when it is valid, else
// each byte as its Latin-1 character.
std::u16string TextFromDevice(std::string_view text);

}  // namespace halvorin
