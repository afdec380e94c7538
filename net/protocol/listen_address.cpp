#include "net/protocol/listen_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>

#include "net/protocol/host_address.h"

namespace halvorin {

namespace {

std::optional<sockaddr_storage> NumericAddress(const std::string& host, uint16_t port) {
    sockaddr_storage storage{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        return storage;
    }
    storage = {};
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        return storage;
    }
    return std::nullopt;
}

socklen_t LengthOf(const sockaddr_storage& address) {
    return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

}  // namespace

std::optional<std::vector<sockaddr_storage>> ParseListenAddresses(
    const std::vector<std::string>& entries, uint16_t default_port, std::string& error) {
    const std::vector<std::string> any = {"0.0.0.0", "::"};
    std::vector<sockaddr_storage> addresses;
    for (const std::string& entry : entries.empty() ? any : entries) {
        auto parsed = ParseHostAddress(entry, default_port);
        std::optional<sockaddr_storage> address;
        if (parsed) address = NumericAddress(parsed->host, parsed->port);
        if (!address) {
            error = "bad listen address '" + entry +
                    "' (give a numeric address, optionally with :PORT; IPv6 in brackets)";
            return std::nullopt;
        }
        addresses.push_back(*address);
    }
    return addresses;
}

UniqueFd OpenListenSocket(const sockaddr_storage& address, int backlog, std::string& error) {
    UniqueFd fd(
        ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!fd.valid()) {
        error = "socket: " + std::string(std::strerror(errno));
        return {};
    }
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (address.ss_family == AF_INET6)
        ::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), LengthOf(address)) != 0) {
        error = "cannot listen on TCP port " + std::to_string(PortOf(address)) + " of " +
                SocketAddressText(address) + ": " + std::strerror(errno);
        return {};
    }
    if (::listen(fd.get(), backlog) != 0) {
        error = "listen: " + std::string(std::strerror(errno));
        return {};
    }
    return fd;
}

std::string SocketAddressText(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        return "[" + std::string(text) + "]:" + std::to_string(ntohs(v6.sin6_port));
    }
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(v4.sin_port));
}

uint16_t PortOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

void SetPort(sockaddr_storage& address, uint16_t port) {
    if (address.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6&>(address).sin6_port = htons(port);
    else
        reinterpret_cast<sockaddr_in&>(address).sin_port = htons(port);
}

}  // namespace halvorin
