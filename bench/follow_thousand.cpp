// One manager following many simulated enclosures: agent processes
// (halvorin-agentd, each serving up to 4 simulated enclosures) on loopback.
// For each count of enclosures it prints the time until every enclosure is
// read, the manager's resident memory, and its CPU per minute over two
// minutes of the one-minute refresh.
//
//   bench_follow_thousand [--quick] path/to/halvorin-agentd [enclosures...]
//
// The default counts are 1 10 100 250 1000; --quick follows 4 for 5 s.

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
#include "bench/bench_process.h"
#include "bench/quick_run.h"
#include "enclosure/model/domain_registry.h"
#include "enclosure/poll/poll_step.h"

using namespace halvorin;
using Steady = std::chrono::steady_clock;

namespace {

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

int ReadyEnclosures(const std::vector<CSesDomain*>& domains) {
    int ready = 0;
    for (CSesDomain* d : domains) {
        std::vector<Ref<CSubEnc>> all = CollectSubEnclosures(d);
        ready += static_cast<int>(all.size());
    }
    return ready;
}

void PollAll(const std::vector<CSesDomain*>& domains) {
    for (CSesDomain* d : domains)
        PollStep(d);
}

struct Agents {
    std::vector<pid_t> pids;
    ~Agents() {
        for (pid_t pid : pids)
            ::kill(pid, SIGTERM);
        for (pid_t pid : pids)
            ::waitpid(pid, nullptr, 0);
    }
};

void Follow(const std::string& agentd, int enclosures, const std::vector<std::string>& scenarios,
            Steady::duration followed) {
    const int hosts = (enclosures + 3) / 4;
    const std::string me = Utf16ToUtf8(ManagerComputerName());
    Agents agents;
    for (int i = 0; i < hosts; ++i) {
        std::vector<std::string> args = {agentd, "--port", std::to_string(21000 + i), "--allow",
                                         me};
        const int here = std::min(4, enclosures - 4 * i);
        for (int k = 0; k < here; ++k)
            args.insert(args.end(), {"--simulate", scenarios[k]});
        agents.pids.push_back(bench::SpawnQuiet(args));
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));

    const long rss_before = bench::ResidentKiB();
    DomainRegistry registry;
    std::vector<CSesDomain*> domains;
    for (int i = 0; i < hosts; ++i)
        domains.push_back(registry.Acquire(Utf8ToUtf16("127.0.0.1:" + std::to_string(21000 + i))));
    const auto start = Steady::now();
    int ready = 0;
    while (ready < enclosures && Steady::now() - start < std::chrono::seconds(120)) {
        PollAll(domains);
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollIntervalMs));
        ready = ReadyEnclosures(domains);
    }
    const double seconds = std::chrono::duration<double>(Steady::now() - start).count();
    const long rss = bench::ResidentKiB() - rss_before;

    const double cpu_start = bench::CpuSeconds();
    const auto steady_start = Steady::now();
    while (Steady::now() - steady_start < followed) {
        PollAll(domains);
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollIntervalMs));
    }
    const double minutes = std::chrono::duration<double>(Steady::now() - steady_start).count() / 60;
    const double per_minute = (bench::CpuSeconds() - cpu_start) / minutes;
    std::printf(
        "%5d enclosures (%3d agents): read in %5.1f s, %6ld KiB resident (%.1f KiB each), "
        "CPU %.2f s per minute = %.2f%% of one core\n",
        ready, hosts, seconds, rss, static_cast<double>(rss) / std::max(ready, 1), per_minute,
        per_minute / 60 * 100);
    std::fflush(stdout);
    for (CSesDomain* d : domains)
        registry.Release(d);
    registry.ReleaseAll();
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = bench::TakeQuickFlag(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s [--quick] path/to/halvorin-agentd [enclosures...]\n",
                     argv[0]);
        return 1;
    }
    std::vector<int> counts;
    for (int i = 2; i < argc; ++i)
        counts.push_back(std::atoi(argv[i]));
    if (counts.empty())
        counts = quick ? std::vector<int>{4} : std::vector<int>{1, 10, 100, 250, 1000};
    const Steady::duration followed = quick ? std::chrono::seconds(5) : std::chrono::minutes(2);
    const auto scenarios = WriteScenarios();
    std::printf(
        "one manager following simulated 24-bay enclosures, 4 per agent process; CPU over\n"
        "%.0f s of the one-minute refresh (poll step, decoding, connection threads)\n",
        std::chrono::duration<double>(followed).count());
    for (int count : counts)
        Follow(argv[1], count, scenarios, followed);
    return 0;
}
