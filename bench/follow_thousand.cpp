// One manager following 1000 simulated enclosures: 250 agent processes
// (halvorin-agentd, each serving 4 simulated enclosures) on loopback. Prints
// the time until every enclosure is read, the manager's resident memory, and
// its CPU per minute over two minutes of the one-minute refresh.
//
//   bench_follow_thousand path/to/halvorin-agentd [hosts]

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "base/host_name.h"
#include "base/utf16.h"
#include "enclosure/model/domain_registry.h"
#include "enclosure/poll/poll_step.h"

extern char** environ;

using namespace halvorin;
using Steady = std::chrono::steady_clock;

namespace {

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return 0;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Four scenarios whose devices differ from each other.
std::vector<std::string> WriteScenarios() {
    std::vector<std::string> paths;
    std::ifstream in(std::string(HALVORIN_SOURCE_DIR) + "/sim/scenarios/jbod24.json");
    const std::string base((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (int i = 0; i < 4; ++i) {
        std::string text = base;
        for (const std::string from : {"500a0b0c0d0e0f00", "500a0b0c0d0e0f3e"}) {
            std::string to = from;
            to[13] = static_cast<char>('0' + i);
            text.replace(text.find(from), from.size(), to);
        }
        const std::string path = "/tmp/halvorin-bench-" + std::to_string(i) + ".json";
        std::ofstream(path) << text;
        paths.push_back(path);
    }
    return paths;
}

pid_t Spawn(std::vector<std::string> argv) {
    std::vector<char*> args;
    for (auto& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int ReadyEnclosures(const std::vector<CSesDomain*>& domains) {
    int ready = 0;
    for (CSesDomain* d : domains) {
        std::vector<CSubEnc*> all = CollectSubEnclosures(d);
        ready += static_cast<int>(all.size());
        ReleaseSubEnclosures(all);
    }
    return ready;
}

void PollAll(const std::vector<CSesDomain*>& domains) {
    for (CSesDomain* d : domains)
        PollStep(d);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s path/to/halvorin-agentd [hosts]\n", argv[0]);
        return 1;
    }
    const int hosts = argc > 2 ? std::atoi(argv[2]) : 250;
    const auto scenarios = WriteScenarios();
    const std::string me = Utf16ToUtf8(ManagerComputerName());
    std::vector<pid_t> agents;
    for (int i = 0; i < hosts; ++i) {
        std::vector<std::string> args = {argv[1], "--port", std::to_string(21000 + i), "--allow",
                                         me};
        for (const auto& s : scenarios)
            args.insert(args.end(), {"--simulate", s});
        agents.push_back(Spawn(args));
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));

    const long rss_before = ResidentKiB();
    DomainRegistry registry;
    std::vector<CSesDomain*> domains;
    for (int i = 0; i < hosts; ++i)
        domains.push_back(registry.Acquire(Utf8ToUtf16("127.0.0.1:" + std::to_string(21000 + i))));
    const auto start = Steady::now();
    int ready = 0;
    while (ready < 4 * hosts && Steady::now() - start < std::chrono::seconds(120)) {
        PollAll(domains);
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollIntervalMs));
        ready = ReadyEnclosures(domains);
    }
    const double seconds = std::chrono::duration<double>(Steady::now() - start).count();
    std::printf("%d of %d enclosures read in %.1f s\n", ready, 4 * hosts, seconds);
    std::printf("manager resident memory: %ld KiB (%.1f KiB per enclosure)\n",
                ResidentKiB() - rss_before,
                static_cast<double>(ResidentKiB() - rss_before) / (4 * hosts));

    const double cpu_start = CpuSeconds();
    const auto steady_start = Steady::now();
    while (Steady::now() - steady_start < std::chrono::seconds(120)) {
        PollAll(domains);
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollIntervalMs));
    }
    const double minutes = std::chrono::duration<double>(Steady::now() - steady_start).count() / 60;
    std::printf(
        "manager CPU while following (poll step, decoding, connection threads): %.2f s per minute "
        "(%.2f%% of one core)\n",
        (CpuSeconds() - cpu_start) / minutes, (CpuSeconds() - cpu_start) / minutes / 60 * 100);
    std::printf("resident memory after two refreshes: %ld KiB\n", ResidentKiB() - rss_before);

    for (CSesDomain* d : domains)
        registry.Release(d);
    registry.ReleaseAll();
    for (pid_t pid : agents)
        ::kill(pid, SIGTERM);
    for (pid_t pid : agents)
        ::waitpid(pid, nullptr, 0);
    return 0;
}
