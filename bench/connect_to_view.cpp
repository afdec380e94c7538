// From connecting to a host to its complete 84-bay dual-path model, with the
// desktop's poll driver on the interface thread (agent and simulator in
// process, loopback): replies handled as they arrive, against replies
// handled only on the 100 ms tick.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "shell/tree/poll_driver.h"
#include "sim/loopback_manager.h"

using namespace halvorin;

namespace {

double ConnectToModelMs(const sim::Scenario& scenario, bool wake_on_replies) {
    sim::LoopbackManager manager({scenario});
    std::string error;
    QElapsedTimer clock;
    clock.start();
    if (!manager.Start(error)) return -1;
    CPollDriver driver(manager.registry(), nullptr, wake_on_replies);
    while (!manager.AllRead(scenario.devices.size())) {
        if (clock.elapsed() > 30000) return -1;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return double(clock.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    std::string error;
    auto scenario = sim::LoadScenario(
        std::string(HALVORIN_SOURCE_DIR) + "/sim/scenarios/jbod84-dual-path.json", error);
    if (!scenario) return 1;
    for (bool wake : {true, false}) {
        std::vector<double> runs;
        for (int i = 0; i < 5; ++i)
            runs.push_back(ConnectToModelMs(*scenario, wake));
        std::sort(runs.begin(), runs.end());
        std::printf(
            "84-bay dual path, connect to complete model, %s: median %.1f ms, worst %.1f ms\n",
            wake ? "replies handled as they arrive" : "replies handled on the 100 ms tick",
            runs[runs.size() / 2], runs.back());
    }
    return 0;
}
