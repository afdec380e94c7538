// Several managers reading one agent at once: each manager reads every status
// page of the simulated 84-bay enclosure (both paths) in a loop, one command
// in flight, as a manager's poll does. For 1, 2 and 8 managers it prints
// each manager's p50 and p99 round trip and the agent's CPU per command (the
// process's CPU less the manager threads').

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>

#include "base/clock.h"
#include "base/result_code.h"
#include "bench/bench_process.h"
#include "bench/quick_run.h"
#include "bench/simulated_agent.h"
#include "net/agent/agent_server.h"
#include "net/protocol/wire_format.h"
#include "sim/attach.h"
#include "tests/support/wire_client.h"

using namespace halvorin;
using Steady = std::chrono::steady_clock;

namespace {

const std::vector<uint8_t> kReadStatusCdb = {0x1C, 0x01, 0x02, 0xFF, 0xFF};

struct ManagerFigures {
    double p50_us = 0;
    double p99_us = 0;
    double cpu_s = 0;  // the manager thread's own
    bool ok = false;
};

// What a run asks of each manager: how many reads, and how far apart they
// start (zero: back to back, as fast as the machine allows).
struct Load {
    int commands = 0;
    std::chrono::microseconds pace{0};
};

// `phase`: where in the pace this manager starts, so paced managers do not
// all send in the same instant (independent pollers would not).
ManagerFigures ReadAsOneManager(uint16_t port, const Load& load, double phase) {
    ManagerFigures figures;
    test::WireClient client(port);
    client.SendHello(u"bench");
    auto hello = client.Receive();
    if (!hello || hello->header.status != 0) return figures;
    client.Send(MSG_ENUM_DEVICES, 1);
    auto list = client.Receive();
    if (!list) return figures;
    const std::vector<SES_ADDR> devices = DecodeDeviceList(list->payload).devices;
    if (devices.empty()) return figures;
    std::vector<double> latencies;
    latencies.reserve(static_cast<size_t>(load.commands));
    const double cpu_before = bench::ClockSeconds(CLOCK_THREAD_CPUTIME_ID);
    auto next = Steady::now() + std::chrono::duration_cast<Steady::duration>(load.pace * phase);
    for (int i = 0; i < load.commands; ++i) {
        if (load.pace.count() > 0) std::this_thread::sleep_until(next += load.pace);
        const auto sent = Steady::now();
        client.SendScsiIn(devices[i % devices.size()], kReadStatusCdb, 10 + i);
        auto reply = client.Receive();
        if (!reply || reply->header.status != 0) return figures;
        latencies.push_back(
            std::chrono::duration<double, std::micro>(Steady::now() - sent).count());
    }
    figures.cpu_s = bench::ClockSeconds(CLOCK_THREAD_CPUTIME_ID) - cpu_before;
    std::sort(latencies.begin(), latencies.end());
    figures.p50_us = latencies[latencies.size() / 2];
    figures.p99_us = latencies[latencies.size() * 99 / 100];
    figures.ok = true;
    return figures;
}

// Returns the median of the managers' p50s.
double Run(uint16_t port, int managers, const Load& load) {
    std::vector<ManagerFigures> figures(static_cast<size_t>(managers));
    const double process_before = bench::ClockSeconds(CLOCK_PROCESS_CPUTIME_ID);
    {
        std::vector<std::jthread> threads;
        for (int m = 0; m < managers; ++m)
            threads.emplace_back([&, m] {
                figures[static_cast<size_t>(m)] =
                    ReadAsOneManager(port, load, double(m) / managers);
            });
    }
    double manager_cpu = 0;
    std::vector<double> p50s;
    for (size_t m = 0; m < figures.size(); ++m) {
        const ManagerFigures& f = figures[m];
        if (!f.ok) {
            std::printf("  manager %zu: failed\n", m + 1);
            continue;
        }
        std::printf("  %d managers, manager %zu: p50 %7.1f us   p99 %7.1f us\n", managers, m + 1,
                    f.p50_us, f.p99_us);
        manager_cpu += f.cpu_s;
        p50s.push_back(f.p50_us);
    }
    const double agent_cpu =
        bench::ClockSeconds(CLOCK_PROCESS_CPUTIME_ID) - process_before - manager_cpu;
    std::printf("  %d managers: agent CPU %.1f us/command\n", managers,
                agent_cpu / (load.commands * managers) * 1e6);
    std::sort(p50s.begin(), p50s.end());
    return p50s.empty() ? 0 : p50s[p50s.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = bench::TakeQuickFlag(argc, argv);
    bench::SimulatedAgent simulated;
    if (!simulated.Start("jbod84-dual-path.json", {}, u"bench")) return 1;
    AgentServer& agent = simulated.agent();
    const Load back_to_back{quick ? 100 : 4000, std::chrono::microseconds(0)};
    std::printf(
        "status page reads of the simulated 84-bay enclosure, loopback, one in flight,\n"
        "%d per manager, %u CPUs\n",
        back_to_back.commands, std::thread::hardware_concurrency());
    const double alone = Run(agent.port(), 1, back_to_back);
    Run(agent.port(), 2, back_to_back);
    const double eight = Run(agent.port(), 8, back_to_back);
    std::printf("back to back: median p50 with 8 managers / p50 alone: %.2f\n", eight / alone);
    // Back to back, eight managers and the agent share the CPUs, and the
    // figure measures the machine. Managers poll: at 500 reads a second
    // each (far more than a console's poll of this enclosure) the agent's
    // own cost per manager shows.
    const Load paced{quick ? 50 : 1500, std::chrono::microseconds(2000)};
    const double paced_alone = Run(agent.port(), 1, paced);
    const double paced_eight = Run(agent.port(), 8, paced);
    std::printf("500 reads/s each: median p50 with 8 managers / p50 alone: %.2f\n",
                paced_eight / paced_alone);
    return 0;
}
