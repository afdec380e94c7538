// One manager process following 250 agents on loopback (in-process agents on
// distinct ports, each serving one simulated enclosure): resident memory per
// domain, and the CPU the idle connection threads use.

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "base/utf16.h"
#include "bench/bench_process.h"
#include "bench/quick_run.h"
#include "enclosure/model/domain_registry.h"
#include "net/agent/agent_server.h"

using namespace halvorin;
using namespace std::chrono;

namespace {

double CpuPerSecondOver(seconds period) {
    const double before = bench::CpuSeconds();
    const auto start = steady_clock::now();
    std::this_thread::sleep_for(period);
    return (bench::CpuSeconds() - before) / duration<double>(steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = bench::TakeQuickFlag(argc, argv);
    const int hosts = argc > 1 ? std::atoi(argv[1]) : quick ? 5 : 250;
    ScsiTransport transport;  // the agents' hosts have no enclosures: connections only
    std::vector<std::unique_ptr<AgentServer>> agents;
    for (int i = 0; i < hosts; ++i) {
        AgentOptions options;
        options.accept_claimed_names = true;  // made-up manager names
        options.port = 0;
        agents.push_back(std::make_unique<AgentServer>(transport, options));
        if (agents.back()->Start() != kOk) {
            std::fprintf(stderr, "agent %d: %s\n", i, agents.back()->StartError().c_str());
            return 1;
        }
        agents.back()->SetAuthorized({u"BENCH"});
    }
    std::this_thread::sleep_for(seconds(1));
    const double agents_cpu = CpuPerSecondOver(seconds(5));
    const long before = bench::ResidentKiB();

    ClientOptions client_options;
    client_options.computer_name = u"BENCH";
    DomainRegistry registry(client_options);
    std::vector<CSesDomain*> domains;
    for (auto& agent : agents) {
        domains.push_back(
            registry.Acquire(Utf8ToUtf16("127.0.0.1:" + std::to_string(agent->port()))));
    }
    const auto connect_start = steady_clock::now();
    int ready = 0;
    while (ready < hosts && steady_clock::now() - connect_start < seconds(30)) {
        ready = 0;
        for (CSesDomain* d : domains) {
            d->client.DeliverCompleted();
            ready += d->client.state() == kStateReady;
        }
        std::this_thread::sleep_for(milliseconds(10));
    }
    const double connect_ms =
        duration<double, std::milli>(steady_clock::now() - connect_start).count();
    std::this_thread::sleep_for(seconds(1));
    const long after = bench::ResidentKiB();
    const double total_cpu = CpuPerSecondOver(seconds(10));

    std::printf("%d domains, %d connected and greeted in %.0f ms\n", hosts, ready, connect_ms);
    std::printf("resident memory: %.1f KiB per domain (%ld KiB for all)\n",
                static_cast<double>(after - before) / hosts, after - before);
    std::printf(
        "idle CPU: %.2f%% of one core for %d connection threads (%.4f%% each); the %d agents "
        "alone: %.2f%%\n",
        (total_cpu - agents_cpu) * 100, hosts, (total_cpu - agents_cpu) * 100 / hosts, hosts,
        agents_cpu * 100);
    for (CSesDomain* d : domains)
        registry.Release(d);
    registry.ReleaseAll();
    for (auto& agent : agents)
        agent->Stop();
    return 0;
}
