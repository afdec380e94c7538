// The agent's memory over a long watch: halvorin-agentd serving the 84-bay
// dual-path enclosure to a manager that refreshes every few seconds (instead
// of once a minute), for a number of minutes. Prints the agent's resident
// memory each minute and the slope of a straight line through the samples
// after the first minute (KiB per minute; flat is 0).
//
//   bench_agent_soak [--quick] path/to/halvorin-agentd [minutes] [refresh seconds] [port]
//
// --quick samples every second instead of every minute.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/host_name.h"
#include "base/utf16.h"
#include "bench/bench_process.h"
#include "bench/quick_run.h"
#include "enclosure/model/domain_registry.h"
#include "enclosure/poll/poll_step.h"

using namespace halvorin;
using Steady = std::chrono::steady_clock;

namespace {

// Least-squares slope of y over x.
double Slope(const std::vector<double>& x, const std::vector<double>& y) {
    double mx = 0, my = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        mx += x[i];
        my += y[i];
    }
    mx /= x.size();
    my /= y.size();
    double num = 0, den = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        num += (x[i] - mx) * (y[i] - my);
        den += (x[i] - mx) * (x[i] - mx);
    }
    return den > 0 ? num / den : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = bench::TakeQuickFlag(argc, argv);
    if (argc < 2) {
        std::fprintf(
            stderr,
            "usage: %s [--quick] path/to/halvorin-agentd [minutes] [refresh seconds] [port]\n",
            argv[0]);
        return 1;
    }
    const int minutes = argc > 2 ? std::atoi(argv[2]) : 30;
    const char* const period_name = quick ? "second" : "minute";
    const Steady::duration period = quick ? std::chrono::seconds(1) : std::chrono::minutes(1);
    const int refresh = argc > 3 ? std::atoi(argv[3]) : 5;
    const uint16_t port = static_cast<uint16_t>(argc > 4 ? std::atoi(argv[4]) : 23000);
    const pid_t agent = bench::SpawnQuiet(
        {argv[1], "--port", std::to_string(port), "--allow", Utf16ToUtf8(ManagerComputerName()),
         "--simulate", std::string(HALVORIN_SOURCE_DIR) + "/sim/scenarios/jbod84-dual-path.json"});
    std::this_thread::sleep_for(std::chrono::seconds(1));
    DomainRegistry registry;
    CSesDomain* domain = registry.Acquire(Utf8ToUtf16("127.0.0.1:" + std::to_string(port)));
    std::printf("agent resident memory, 84-bay dual path, full refresh every %d s\n", refresh);
    std::vector<double> x, y;
    const auto start = Steady::now();
    auto next_sample = start;
    for (int minute = 0; minute <= minutes;) {
        PollStep(domain);
        // Refresh every `refresh` seconds instead of once a minute.
        const int64_t now = domain->clock.NowSeconds();
        if (now - domain->last_full_refresh >= refresh)
            domain->last_full_refresh = now - kRefreshPeriodSeconds;
        if (Steady::now() >= next_sample) {
            const long kib = bench::ResidentKiB(agent);
            std::printf("%s %3d: %ld KiB\n", period_name, minute, kib);
            std::fflush(stdout);
            if (minute >= 1) {
                x.push_back(minute);
                y.push_back(static_cast<double>(kib));
            }
            ++minute;
            next_sample += period;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollIntervalMs));
    }
    std::printf("slope after the first %s: %.1f KiB per %s (%zu samples)\n", period_name,
                Slope(x, y), period_name, x.size());
    registry.Release(domain);
    registry.ReleaseAll();
    ::kill(agent, SIGTERM);
    ::waitpid(agent, nullptr, 0);
    return 0;
}
