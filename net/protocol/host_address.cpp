#include "net/protocol/host_address.h"

#include <algorithm>
#include <charconv>

namespace halvorin {

namespace {

std::optional<uint16_t> ParsePort(const std::string& text) {
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(value);
}

}  // namespace

std::optional<HostAddress> ParseHostAddress(const std::string& entry, uint16_t default_port) {
    if (entry.empty()) return std::nullopt;
    if (entry.front() == '[') {
        const size_t close = entry.find(']');
        if (close == std::string::npos || close == 1) return std::nullopt;
        HostAddress address{entry.substr(1, close - 1), default_port};
        if (close + 1 == entry.size()) return address;
        if (entry[close + 1] != ':') return std::nullopt;
        auto port = ParsePort(entry.substr(close + 2));
        if (!port) return std::nullopt;
        address.port = *port;
        return address;
    }
    const size_t colons = std::count(entry.begin(), entry.end(), ':');
    if (colons != 1) return HostAddress{entry, default_port};  // a name, or a bare IPv6 address
    const size_t colon = entry.find(':');
    auto port = ParsePort(entry.substr(colon + 1));
    if (colon == 0 || !port) return std::nullopt;
    return HostAddress{entry.substr(0, colon), *port};
}

}  // namespace halvorin
