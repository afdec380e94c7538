// Where the agent listens: numeric addresses as administrators give them
// ("0.0.0.0", "192.0.2.7:6001", "[::1]:6001", "::"), and the sockets bound
// to them.
#pragma once

#include <sys/socket.h>

#include <optional>
#include <string>
#include <vector>

#include "base/unique_fd.h"

namespace halvorin {

// Without entries: every IPv4 and every IPv6 address. An entry without a
// port takes default_port. Nothing, and a reason, for a name or a bad port.
std::optional<std::vector<sockaddr_storage>> ParseListenAddresses(
    const std::vector<std::string>& entries, uint16_t default_port, std::string& error);

// A non-blocking listening socket; IPv6 sockets take IPv6 only, so "::" and
// "0.0.0.0" can be bound side by side.
UniqueFd OpenListenSocket(const sockaddr_storage& address, int backlog, std::string& error);

// "192.0.2.7:6000", "[2001:db8::5]:6000".
std::string SocketAddressText(const sockaddr_storage& address);
uint16_t PortOf(const sockaddr_storage& address);
void SetPort(sockaddr_storage& address, uint16_t port);

}  // namespace halvorin
