// What the benchmarks that run the real programs share: starting one with
// its output thrown away, and reading a process's resident memory.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>

#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace halvorin::bench {

inline pid_t SpawnQuiet(std::vector<std::string> argv) {
    std::vector<char*> args;
    for (auto& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// VmRSS of a process (this one by default), in KiB.
inline long ResidentKiB(pid_t pid = 0) {
    std::ifstream status(pid == 0 ? std::string("/proc/self/status")
                                  : "/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return 0;
}

}  // namespace halvorin::bench
