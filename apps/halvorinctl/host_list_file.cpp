#include "apps/halvorinctl/host_list_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "net/protocol/host_address.h"
#include "net/protocol/wire_format.h"

namespace halvorin::ctl {

namespace {

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

std::optional<std::vector<std::string>> ReadHostList(const std::string& path, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::vector<std::string> hosts;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        const std::string host = Trimmed(line.substr(0, line.find('#')));
        if (host.empty()) continue;
        if (host.find_first_of(" \t") != std::string::npos ||
            !ParseHostAddress(host, kDefaultAgentPort)) {
            error = path + ":" + std::to_string(number) + ": \"" + host +
                    "\" is not a host (give NAME, NAME:PORT or [IPv6]:PORT, one a line)";
            return std::nullopt;
        }
        hosts.push_back(host);
    }
    if (in.bad()) {
        error = path + ": cannot be read";
        return std::nullopt;
    }
    return hosts;
}

}  // namespace halvorin::ctl
