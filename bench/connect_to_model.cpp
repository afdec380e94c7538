// Time from connecting to a host's agent to a complete model of one 84-bay
// dual-path enclosure over loopback (both devices read through the whole
// chain), with the poll step every 100 ms and nothing between the steps, and
// with replies delivered as they arrive (woken by the client's completion
// descriptor, as halvorinctl and the desktop wait).

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "base/utf16.h"
#include "enclosure/model/domain_registry.h"
#include "enclosure/poll/poll_step.h"
#include "net/agent/agent_server.h"
#include "sim/sim_host.h"

using namespace halvorin;
using Steady = std::chrono::steady_clock;

namespace {

bool AllReady(CSesDomain* domain) {
    std::vector<CSesDev*> devices = SnapshotDevices(domain);
    bool ready = devices.size() == 2;
    for (CSesDev* d : devices)
        ready = ready && (d->Flags() & kDeviceReady);
    ReleaseDevices(devices);
    return ready;
}

double ConnectOnce(uint16_t port, bool deliver_between_steps) {
    ClientOptions options;
    options.computer_name = u"BENCH";
    DomainRegistry registry(options);
    const auto start = Steady::now();
    CSesDomain* domain = registry.Acquire(Utf8ToUtf16("127.0.0.1:" + std::to_string(port)));
    while (!AllReady(domain)) {
        PollStep(domain);
        const auto next = Steady::now() + std::chrono::milliseconds(kPollIntervalMs);
        if (!deliver_between_steps) {
            std::this_thread::sleep_until(next);
            continue;
        }
        // As halvorinctl waits: on the client's completion descriptor.
        while (!AllReady(domain)) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(next - Steady::now()).count();
            if (left <= 0) break;
            pollfd ready{registry.completions().fd(), POLLIN, 0};
            if (::poll(&ready, 1, static_cast<int>(left)) > 0) {
                for (CSesClient* client : registry.completions().Take())
                    client->DeliverCompleted();
            }
        }
    }
    const double ms = std::chrono::duration<double, std::milli>(Steady::now() - start).count();
    registry.Release(domain);
    return ms;
}

}  // namespace

int main() {
    std::string error;
    auto scenario = sim::LoadScenario(
        std::string(HALVORIN_SOURCE_DIR) + "/sim/scenarios/jbod84-dual-path.json", error);
    if (!scenario) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    ScsiTransport transport;
    auto host = std::make_shared<sim::SimHost>();
    host->Add(std::make_shared<sim::SimulatedEnclosure>(*scenario, SystemClock()));
    transport.AddHost(host);
    AgentOptions agent_options;
    agent_options.accept_claimed_names = true;  // made-up manager names
    agent_options.port = 0;
    AgentServer agent(transport, agent_options);
    if (agent.Start() != kOk) return 1;
    agent.SetAuthorized({u"BENCH"});

    for (bool fast : {false, true}) {
        std::vector<double> runs;
        for (int i = 0; i < 5; ++i)
            runs.push_back(ConnectOnce(agent.port(), fast));
        std::sort(runs.begin(), runs.end());
        std::printf(
            "connect to complete 84-bay model (2 devices, 2 sub-enclosures), %s: median %.0f ms "
            "(%.0f..%.0f)\n",
            fast ? "replies delivered as they arrive" : "poll step every 100 ms", runs[2], runs[0],
            runs[4]);
    }
    agent.Stop();
    return 0;
}
