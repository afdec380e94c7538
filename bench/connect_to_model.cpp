// Time from connecting to a host's agent to a complete model of one 84-bay
// dual-path enclosure over loopback (both devices read through the whole
// chain), with the poll step every 100 ms and nothing between the steps, and
// with replies delivered as they arrive (woken by the client's completion
// descriptor, as halvorinctl and the desktop wait).

#include <algorithm>
#include <cstdio>

#include "bench/model_connect.h"
#include "bench/quick_run.h"
#include "net/agent/agent_server.h"
#include "sim/sim_host.h"

using namespace halvorin;
using bench::ConnectOnce;

int main(int argc, char** argv) {
    const int runs_each = bench::TakeQuickFlag(argc, argv) ? 1 : 5;
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
        for (int i = 0; i < runs_each; ++i)
            runs.push_back(ConnectOnce(agent.port(), fast, {}));
        std::sort(runs.begin(), runs.end());
        std::printf(
            "connect to complete 84-bay model (2 devices, 2 sub-enclosures), %s: median %.0f ms "
            "(%.0f..%.0f)\n",
            fast ? "replies delivered as they arrive" : "poll step every 100 ms",
            runs[runs.size() / 2], runs.front(), runs.back());
    }
    agent.Stop();
    return 0;
}
