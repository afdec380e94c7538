// A list of hosts for --config: one HOST[:PORT] a line; blank lines and
// everything after '#' are left out. A fleet has more hosts than a command
// line (or a systemd unit's environment) comfortably holds.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace halvorin::ctl {

// The hosts, or nothing and the reason ("FILE:LINE: ...") when the file
// cannot be read or a line is not a host.
std::optional<std::vector<std::string>> ReadHostList(const std::string& path, std::string& error);

}  // namespace halvorin::ctl
