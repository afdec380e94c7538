// What `halvorinctl show` reports: every enclosure of a host with its
// identity, indicators and element groups, as JSON (the stable machine
// format the README documents) or as text, each straight from the model.
#pragma once

#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "enclosure/model/elem_type_desc.h"

#include "apps/halvorinctl/manager_session.h"

namespace halvorin::ctl {

// The version of the JSON that show and watch print: a new member leaves it
// alone, a member that changes meaning or goes away raises it.
inline constexpr int kJsonFormatVersion = 1;

nlohmann::json HostReport(CSesDomain* domain, const HostStatus& status);
nlohmann::json EnclosureReport(CSubEnc* subenc);

void PrintTextReport(CSesDomain* domain, const HostStatus& status, std::FILE* out);

// Helpers shared with the other commands.
// Readings in the element's unit: rpm, degrees Celsius, volts, amperes.
struct Unit {
    const char* name;
    double scale;
};
std::optional<Unit> UnitOf(uint8_t type);
// The title of an element group as the desktop shows it ("Power Supply").
std::string GroupTitle(const ELEM_TYPE_DESC& d);
std::string Hex(const uint8_t* bytes, size_t count);
// The bytes written as hex digit pairs (what Hex makes); stops at a bad pair.
std::string BytesFromHex(const std::string& hex);
std::string DisplayName(const CSubEnc* subenc);
// Whether the slot's additional status gave its disk's SAS address.
bool HasDiskSasAddress(const CSesElem* slot);
// The JSON name of one state bit ("ac_failure").
std::string StateName(uint32_t bit);

}  // namespace halvorin::ctl
