// From connecting to a host to its complete 84-bay dual-path model shown in
// the enclosure tree, with the desktop's poll driver on the interface thread
// (agent and simulator in process, loopback): replies handled as they
// arrive, against replies handled only on the 100 ms tick.

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench/quick_run.h"
#include "enclosure/model/ses_dev.h"
#include "enclosure/model/ses_domain.h"
#include "shell/tree/enc_tree.h"
#include "shell/tree/left_pane.h"
#include "shell/tree/poll_driver.h"
#include "tests/support/loopback_manager.h"

using namespace halvorin;

namespace {

struct Figures {
    double model_ms = -1;  // every device's first read chain done
    double tree_ms = -1;   // ... and the tree shows every enclosure
};

bool AllRead(CSesDomain* host, size_t expected) {
    std::vector<Ref<CSesDev>> devices = SnapshotDevices(host);
    const bool read = devices.size() == expected &&
                      std::all_of(devices.begin(), devices.end(), [](const Ref<CSesDev>& d) {
                          return (d->Flags() & kDeviceReady) != 0;
                      });
    return read;
}

Figures ConnectToTree(const sim::Scenario& scenario, bool wake_on_replies) {
    test::LoopbackManager agent({scenario});
    std::string error;
    if (!agent.StartAgent(error)) return {};
    ManualClock clock;
    DomainRegistry registry(test::LoopbackManager::ManagerOptions(clock));
    CLeftPane pane(registry);
    QElapsedTimer elapsed;
    elapsed.start();
    pane.AddHost(QString::fromStdU16String(agent.HostName()));
    CPollDriver driver(registry, nullptr, wake_on_replies);
    QObject::connect(&driver, &CPollDriver::Stepped, &pane, &CLeftPane::Refresh);
    CSesDomain* host = pane.Tree()->Host(0);
    Figures figures;
    while (figures.tree_ms < 0) {
        if (elapsed.elapsed() > 30000) return {};
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        const bool read = AllRead(host, scenario.devices.size());
        if (read && figures.model_ms < 0) figures.model_ms = double(elapsed.nsecsElapsed()) / 1e6;
        if (read && pane.Tree()->SubEncsOf(host).size() == scenario.subenclosures.size())
            figures.tree_ms = double(elapsed.nsecsElapsed()) / 1e6;
    }
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs_each = bench::TakeQuickFlag(argc, argv) ? 1 : 9;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    std::string error;
    auto scenario = sim::LoadScenario(
        std::string(HALVORIN_SOURCE_DIR) + "/sim/scenarios/jbod84-dual-path.json", error);
    if (!scenario) return 1;
    for (bool wake : {true, false}) {
        std::vector<double> model, tree;
        for (int i = 0; i < runs_each; ++i) {
            const Figures f = ConnectToTree(*scenario, wake);
            model.push_back(f.model_ms);
            tree.push_back(f.tree_ms);
        }
        std::sort(model.begin(), model.end());
        std::sort(tree.begin(), tree.end());
        std::printf("84-bay dual path, %s:\n",
                    wake ? "replies handled as they arrive" : "replies handled on the 100 ms tick");
        std::printf("  connect to complete model:    median %7.1f ms, worst %7.1f ms\n",
                    model[model.size() / 2], model.back());
        std::printf("  connect to model in the tree: median %7.1f ms, worst %7.1f ms\n",
                    tree[tree.size() / 2], tree.back());
    }
    return 0;
}
