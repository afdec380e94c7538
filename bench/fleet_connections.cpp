// A manager that follows a fleet: N hosts, half of them reachable (agents on
// loopback addresses 127.1.x.y that accept the hello and report no device),
// half not (a port nobody listens on, refused at once). For each N it prints
// the manager's threads, resident memory, descriptors and CPU while it
// follows them, and how long until every reachable host is connected.
//
//   bench_fleet_connections [hosts...]   (default 1 100 1000 10000)

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "base/unique_fd.h"
#include "base/utf16.h"
#include "bench/bench_process.h"
#include "bench/fleet_agent.h"
#include "bench/quick_run.h"
#include "enclosure/model/domain_registry.h"
#include "enclosure/poll/poll_step.h"
#include "net/protocol/frame_assembler.h"

using namespace halvorin;
using Steady = std::chrono::steady_clock;

namespace {

// How long the hosts are followed before the CPU is measured, and while.
struct Phases {
    std::chrono::milliseconds settle{6000}, measured{10000};
};

void Measure(size_t hosts, uint16_t agent_port, uint16_t dead_port, const Phases& phases) {
    DomainRegistry registry;
    std::vector<CSesDomain*> domains;
    const auto start = Steady::now();
    for (size_t i = 0; i < hosts; ++i) {
        const std::string address = bench::FleetHost(i, agent_port, dead_port);
        if (CSesDomain* domain = registry.Acquire(Utf8ToUtf16(address))) domains.push_back(domain);
    }
    const size_t reachable = (hosts + 1) / 2;
    auto connected = [&] {
        size_t n = 0;
        for (CSesDomain* d : domains)
            n += d->client.state() == kStateReady;
        return n;
    };
    // The owner's loop as halvorinctl runs it: steps every 100 ms, replies
    // delivered as the registry's signal says.
    auto step_for = [&](std::chrono::milliseconds period) {
        const auto until = Steady::now() + period;
        while (Steady::now() < until) {
            for (CSesDomain* d : domains)
                PollStep(d);
            const auto next_step = Steady::now() + std::chrono::milliseconds(kPollIntervalMs);
            while (true) {
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(next_step - Steady::now());
                if (left.count() <= 0) break;
                pollfd signal{registry.completions().fd(), POLLIN, 0};
                if (::poll(&signal, 1, int(left.count())) <= 0) continue;
                for (CSesClient* client : registry.completions().Take())
                    client->DeliverCompleted();
            }
        }
    };
    double connect_s = -1;
    while (Steady::now() - start < std::chrono::seconds(120)) {
        step_for(std::chrono::milliseconds(200));
        if (connected() >= reachable) {
            connect_s = std::chrono::duration<double>(Steady::now() - start).count();
            break;
        }
    }
    // Past the first seconds after connecting, when device lists are asked
    // for at every step.
    step_for(phases.settle);
    const double cpu_before = bench::CpuSeconds();
    const auto measured_from = Steady::now();
    step_for(phases.measured);
    const double cpu = (bench::CpuSeconds() - cpu_before) /
                       std::chrono::duration<double>(Steady::now() - measured_from).count();
    // What the desktop's interface thread spends on each 100 ms tick.
    const auto step_start = Steady::now();
    for (CSesDomain* d : domains)
        PollStep(d);
    const double step_ms =
        std::chrono::duration<double, std::milli>(Steady::now() - step_start).count();
    std::printf(
        "%6zu hosts: %5zu of %5zu reachable connected in %6.2f s; threads %3zu, "
        "descriptors %5zu, resident %7.1f MB, CPU %5.2f %% of a core while following; "
        "one poll step of every host %.2f ms\n",
        hosts, connected(), reachable, connect_s, bench::EntriesIn("/proc/self/task"),
        bench::EntriesIn("/proc/self/fd"), bench::ResidentKiB() / 1024.0, cpu * 100, step_ms);
    std::fflush(stdout);
    for (CSesDomain* d : domains)
        registry.Release(d);
    registry.ReleaseAll();
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = bench::TakeQuickFlag(argc, argv);
    bench::RaiseDescriptorLimit();
    const std::vector<size_t> counts = bench::CountsFrom(
        argc, argv, quick ? std::vector<size_t>{1, 10} : std::vector<size_t>{1, 100, 1000, 10000});
    const int waited_s = quick ? 1 : 5;
    const Phases phases =
        quick ? Phases{std::chrono::seconds(1), std::chrono::seconds(1)} : Phases{};
    bench::FleetAgent agent;
    const uint16_t dead_port = bench::RefusedPort();
    for (size_t hosts : counts)
        Measure(hosts, agent.port(), dead_port, phases);

    // A host whose agent takes the connection and never answers the hello
    // (another manager holds it, or it is no agent at all): the waiting
    // client sleeps.
    UniqueFd silent(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const uint16_t silent_port = bench::BindLoopback(silent.get());
    ::listen(silent.get(), 8);
    DomainRegistry registry;
    CSesDomain* waiting =
        registry.Acquire(u"127.0.0.1:" + Utf8ToUtf16(std::to_string(silent_port)));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double before = bench::CpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(waited_s));
    std::printf("a client waiting %d s for a hello answer (state %d): CPU %.3f %% of a core\n",
                waited_s, waiting ? waiting->client.state() : -1,
                (bench::CpuSeconds() - before) / waited_s * 100);
    if (waiting) registry.Release(waiting);
    return 0;
}
