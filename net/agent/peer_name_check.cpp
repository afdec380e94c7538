#include "net/agent/peer_name_check.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>
#include <memory>

#include "net/agent/allow_entry.h"

namespace halvorin {

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string AddressText(const sockaddr_storage& peer) {
    char text[NI_MAXHOST] = {};
    ::getnameinfo(reinterpret_cast<const sockaddr*>(&peer), sizeof peer, text, sizeof text, nullptr,
                  0, NI_NUMERICHOST);
    return text;
}

// Whether the name resolves to the peer's address; why not otherwise.
bool ResolvesToPeer(const std::string& name, const in6_addr& peer, std::string& why) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int error = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (error != 0) {
        why = "\"" + name + "\" does not resolve: " + gai_strerror(error);
        return false;
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, &::freeaddrinfo);
    for (const addrinfo* node = found; node; node = node->ai_next) {
        sockaddr_storage candidate{};
        std::memcpy(&candidate, node->ai_addr,
                    std::min<size_t>(node->ai_addrlen, sizeof candidate));
        const auto address = MappedAddress(candidate);
        if (address && std::memcmp(address->s6_addr, peer.s6_addr, 16) == 0) return true;
    }
    why = "\"" + name + "\" does not resolve to the peer's address";
    return false;
}

}  // namespace

bool SameHostName(const std::string& a, const std::string& b) {
    const std::string x = Lower(a);
    const std::string y = Lower(b);
    if (x == y) return true;
    const size_t x_dot = x.find('.');
    const size_t y_dot = y.find('.');
    if (x_dot != std::string::npos && y_dot != std::string::npos) return false;
    return x.substr(0, x_dot) == y.substr(0, y_dot);
}

PeerNameCheck CheckPeerName(const std::string& name, const sockaddr_storage& peer) {
    PeerNameCheck check;
    const auto address = MappedAddress(peer);
    if (!address || name.empty()) {
        check.why = "no address to check the name against";
        return check;
    }
    if (!ResolvesToPeer(name, *address, check.why)) return check;
    char host[NI_MAXHOST] = {};
    const int error = ::getnameinfo(reinterpret_cast<const sockaddr*>(&peer), sizeof peer, host,
                                    sizeof host, nullptr, 0, NI_NAMEREQD);
    if (error != 0) {
        check.why =
            "the peer's address " + AddressText(peer) + " has no name: " + gai_strerror(error);
        return check;
    }
    if (!SameHostName(host, name)) {
        check.why = "the peer's address " + AddressText(peer) + " is named \"" + std::string(host) +
                    "\", not \"" + name + "\"";
        return check;
    }
    check.confirmed = true;
    return check;
}

}  // namespace halvorin
