// Finds the TCMU backstores meant for the simulator among the machine's uio
// devices. The kernel names each "tcm-user/HBA/DEVICE/CONFIG", where CONFIG
// is what the backstore's dev_config says; ours say
// "halvorin/SCENARIO/DEVICE": the scenario's place on the command line and
// the device's index in its "devices".
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace halvorin::sim {

struct TcmuBackstore {
    std::filesystem::path node;  // /dev/uioN
    size_t map_size = 0;
    std::string backstore;  // DEVICE, for the log
    size_t scenario = 0;
    size_t device = 0;
};

// The scenario and device a uio name asks for; nothing for other devices.
std::optional<TcmuBackstore> ParseUioName(const std::string& name);

std::vector<TcmuBackstore> FindTcmuBackstores(const std::filesystem::path& sysfs = "/sys",
                                              const std::filesystem::path& dev = "/dev");

}  // namespace halvorin::sim
