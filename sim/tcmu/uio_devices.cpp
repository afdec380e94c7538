#include "sim/tcmu/uio_devices.h"

#include <charconv>
#include <fstream>
#include <system_error>

namespace halvorin::sim {

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == separator)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

std::optional<size_t> Number(const std::string& text, int base = 10) {
    size_t value = 0;
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value, base);
    if (ec != std::errc() || p != end || text.empty()) return std::nullopt;
    return value;
}

std::string FirstLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

std::optional<TcmuBackstore> ParseUioName(const std::string& name) {
    const auto parts = Split(name, '/');
    if (parts.size() != 6 || parts[0] != "tcm-user" || parts[3] != "halvorin") return std::nullopt;
    auto scenario = Number(parts[4]);
    auto device = Number(parts[5]);
    if (!scenario || !device) return std::nullopt;
    TcmuBackstore found;
    found.backstore = parts[2];
    found.scenario = *scenario;
    found.device = *device;
    return found;
}

std::vector<TcmuBackstore> FindTcmuBackstores(const fs::path& sysfs, const fs::path& dev) {
    std::vector<TcmuBackstore> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysfs / "class/uio", ec)) {
        auto backstore = ParseUioName(FirstLine(entry.path() / "name"));
        if (!backstore) continue;
        std::string size = FirstLine(entry.path() / "maps/map0/size");  // "0x…"
        if (size.starts_with("0x")) size.erase(0, 2);
        auto map_size = Number(size, 16);
        if (!map_size || *map_size == 0) continue;
        backstore->node = dev / entry.path().filename();
        backstore->map_size = *map_size;
        found.push_back(std::move(*backstore));
    }
    return found;
}

}  // namespace halvorin::sim
