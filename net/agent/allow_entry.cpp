#include "net/agent/allow_entry.h"

#include <arpa/inet.h>

#include <charconv>
#include <cstring>

#include "base/utf16.h"

namespace halvorin {

namespace {

constexpr int kMappedPrefix = 96;  // ::ffff:0:0/96 holds the IPv4 addresses

in6_addr MapIpv4(const in_addr& v4) {
    in6_addr mapped{};
    mapped.s6_addr[10] = 0xFF;
    mapped.s6_addr[11] = 0xFF;
    std::memcpy(&mapped.s6_addr[12], &v4, 4);
    return mapped;
}

// The address and the largest prefix it allows (32 or 128), IPv4 mapped.
std::optional<std::pair<in6_addr, int>> ParseAddress(const std::string& text) {
    in_addr v4{};
    if (inet_pton(AF_INET, text.c_str(), &v4) == 1) return std::pair{MapIpv4(v4), 32};
    in6_addr v6{};
    if (inet_pton(AF_INET6, text.c_str(), &v6) == 1) return std::pair{v6, 128};
    return std::nullopt;
}

bool SamePrefix(const in6_addr& a, const in6_addr& b, int bits) {
    const int whole = bits / 8;
    if (std::memcmp(a.s6_addr, b.s6_addr, static_cast<size_t>(whole)) != 0) return false;
    const int rest = bits % 8;
    if (rest == 0) return true;
    const auto mask = static_cast<uint8_t>(0xFF << (8 - rest));
    return (a.s6_addr[whole] & mask) == (b.s6_addr[whole] & mask);
}

}  // namespace

std::optional<AllowEntry> ParseAllowEntry(const std::u16string& text) {
    if (text.empty()) return std::nullopt;
    const std::string utf8 = Utf16ToUtf8(text);
    const size_t slash = utf8.find('/');
    auto address = ParseAddress(utf8.substr(0, slash));
    if (!address) {
        if (slash != std::string::npos) return std::nullopt;  // "name/24" is no network
        return AllowEntry{AllowEntry::Kind::kName, text, {}, 128};
    }
    const auto [network, max_prefix] = *address;
    int prefix = max_prefix;
    if (slash != std::string::npos) {
        const std::string digits = utf8.substr(slash + 1);
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), prefix);
        if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
            prefix < 0 || prefix > max_prefix)
            return std::nullopt;
    }
    if (max_prefix == 32) prefix += kMappedPrefix;
    return AllowEntry{AllowEntry::Kind::kNetwork, text, network, prefix};
}

std::optional<in6_addr> MappedAddress(const sockaddr_storage& peer) {
    if (peer.ss_family == AF_INET)
        return MapIpv4(reinterpret_cast<const sockaddr_in&>(peer).sin_addr);
    if (peer.ss_family == AF_INET6) return reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr;
    return std::nullopt;
}

bool CoversPeer(const AllowEntry& entry, const sockaddr_storage& peer) {
    if (entry.kind != AllowEntry::Kind::kNetwork) return false;
    const auto address = MappedAddress(peer);
    return address && SamePrefix(*address, entry.network, entry.prefix_length);
}

}  // namespace halvorin
