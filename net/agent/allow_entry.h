// One entry of the agent's allow list as the administrator wrote it: a
// manager's computer name, an address ("192.0.2.7", "2001:db8::5") or a
// network ("192.0.2.0/24", "2001:db8::/32"). Addresses are facts about the
// peer; a name is only what the peer says, until it is checked.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <optional>
#include <string>

namespace halvorin {

struct AllowEntry {
    enum class Kind { kName, kNetwork };
    Kind kind = Kind::kName;
    std::u16string text;  // as given
    // kNetwork: IPv4 networks are kept as IPv4-mapped IPv6 (::ffff:a.b.c.d),
    // their prefix length counted from the start of the 128 bits.
    in6_addr network{};
    int prefix_length = 128;
};

// Nothing for an empty entry or a malformed address or prefix
// ("192.0.2.0/33", "10.0.0.1/x"); anything else without a '/' that does not
// read as an address is a name.
std::optional<AllowEntry> ParseAllowEntry(const std::u16string& text);

// Whether a network entry covers the peer (IPv4 peers match IPv4 entries
// whether they arrive on an IPv4 or an IPv6 socket).
bool CoversPeer(const AllowEntry& entry, const sockaddr_storage& peer);

// The peer as an IPv6 address, IPv4 mapped; nothing for other families.
std::optional<in6_addr> MappedAddress(const sockaddr_storage& peer);

}  // namespace halvorin
