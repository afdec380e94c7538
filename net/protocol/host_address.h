// A host entry as operators type it: "name", "name:port", "192.0.2.7:6001",
// "[2001:db8::5]:6001" or a bare IPv6 address. Without a port the agent's
// default port is meant.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace halvorin {

struct HostAddress {
    std::string host;
    uint16_t port = 0;
};

std::optional<HostAddress> ParseHostAddress(const std::string& entry, uint16_t default_port);

}  // namespace halvorin
