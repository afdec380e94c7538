// CPU of `halvorinctl watch` following 22 hosts: 22 agent processes
// (halvorin-agentd, one simulated 24-bay enclosure each) on loopback. After
// the first reads have settled it measures the watch process's CPU over a
// minute (the one-minute refresh included) from /proc.
//
//   bench_watch_cpu [--quick] path/to/halvorin-agentd path/to/halvorinctl [seconds]
//
// --quick follows 2 hosts for 2 s after 3 s of first reads.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/host_name.h"
#include "base/utf16.h"
#include "bench/bench_process.h"
#include "bench/quick_run.h"

using namespace halvorin;

namespace {

constexpr int kFirstPort = 22000;

// User plus system time of a process, in seconds.
double ProcessCpu(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stol(field);
        if (i == 15) stime = std::stol(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = bench::TakeQuickFlag(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: %s [--quick] path/to/halvorin-agentd path/to/halvorinctl [seconds]\n",
                     argv[0]);
        return 1;
    }
    const int seconds = argc > 3 ? std::atoi(argv[3]) : quick ? 2 : 60;
    const int hosts = quick ? 2 : 22;
    const std::string scenario = std::string(HALVORIN_SOURCE_DIR) + "/sim/scenarios/jbod24.json";
    const std::string me = Utf16ToUtf8(ManagerComputerName());
    std::vector<pid_t> agents;
    std::vector<std::string> watch = {argv[2]};
    for (int i = 0; i < hosts; ++i) {
        const std::string port = std::to_string(kFirstPort + i);
        agents.push_back(
            bench::SpawnQuiet({argv[1], "--port", port, "--allow", me, "--simulate", scenario}));
        watch.insert(watch.end(), {"-H", "127.0.0.1:" + port});
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    watch.insert(watch.end(), {"watch", "--readings"});
    const pid_t watcher = bench::SpawnQuiet(watch);
    std::this_thread::sleep_for(std::chrono::seconds(quick ? 3 : 10));  // first reads
    const double before = ProcessCpu(watcher);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double used = ProcessCpu(watcher) - before;
    std::printf("halvorinctl watch --readings, %d hosts: %.2f s CPU in %d s = %.2f%% of one core\n",
                hosts, used, seconds, used / seconds * 100);
    ::kill(watcher, SIGTERM);
    ::waitpid(watcher, nullptr, 0);
    for (pid_t pid : agents)
        ::kill(pid, SIGTERM);
    for (pid_t pid : agents)
        ::waitpid(pid, nullptr, 0);
    return 0;
}
