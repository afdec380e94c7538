// What `halvorinctl show` reports: every enclosure of a host with its
// identity, indicators and element groups. Built once as JSON (the stable
// machine format the README documents) and rendered as text from that.
#pragma once

#include <cstdio>
#include <nlohmann/json.hpp>

#include "apps/halvorinctl/manager_session.h"

namespace halvorin::ctl {

nlohmann::json HostReport(CSesDomain* domain, const HostStatus& status);
nlohmann::json EnclosureReport(CSubEnc* subenc);

void PrintHostReport(const nlohmann::json& host, std::FILE* out);

// Helpers shared with the other commands.
std::string Hex(const uint8_t* bytes, size_t count);
std::string DisplayName(const CSubEnc* subenc);

}  // namespace halvorin::ctl
