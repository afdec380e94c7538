// Time to build `halvorinctl show`'s report for one 84-bay dual-path
// enclosure already read into the model (agent and simulator in process):
// the text report and the JSON report, each rendered to /dev/null 200 times.

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "apps/halvorinctl/enclosure_report.h"
#include "apps/halvorinctl/manager_session.h"
#include "base/clock.h"
#include "base/host_name.h"
#include "bench/quick_run.h"
#include "bench/simulated_agent.h"
#include "net/agent/agent_server.h"
#include "sim/attach.h"

using namespace halvorin;
using Steady = std::chrono::steady_clock;

int main(int argc, char** argv) {
    const int runs = bench::TakeQuickFlag(argc, argv) ? 2 : 200;
    bench::SimulatedAgent simulated;
    if (!simulated.Start("jbod84-dual-path.json", {}, ManagerComputerName())) return 1;
    AgentServer& agent = simulated.agent();
    std::atomic<bool> never{false};
    ctl::ManagerSession session({"127.0.0.1:" + std::to_string(agent.port())}, never);
    const auto statuses = session.WaitUntilRead(std::chrono::seconds(30));
    if (statuses[0].outcome != ctl::HostOutcome::kReady) return 1;
    std::FILE* null =
        std::fopen(std::getenv("REPORT_TO") ? std::getenv("REPORT_TO") : "/dev/null", "w");
    for (bool json : {false, true}) {
        const auto start = Steady::now();
        for (int i = 0; i < runs; ++i) {
            if (json) {
                const auto report = ctl::HostReport(session.domains()[0], statuses[0]);
                std::fprintf(null, "%s\n", report.dump(2).c_str());
            } else {
                ctl::PrintTextReport(session.domains()[0], statuses[0], null);
            }
        }
        const double ms = std::chrono::duration<double, std::milli>(Steady::now() - start).count();
        std::printf("show%s, 84-bay enclosure: %.2f ms per report\n", json ? " --json" : "",
                    ms / runs);
    }
    std::fclose(null);
    agent.Stop();
    return 0;
}
