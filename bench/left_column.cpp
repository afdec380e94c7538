// The left column's cost on the interface thread:
//  - one 100 ms tick (every host's poll step and the tree brought up to
//    date) with 250 hosts of 4 enclosures each when nothing changed;
//  - adding 10,000 events to the event list, the history on disk included.
// Agents and simulated enclosures run in this process on loopback.

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "bench/hosts_in_tree.h"
#include "bench/quick_run.h"
#include "enclosure/model/ses_dev.h"
#include "enclosure/model/ses_domain.h"
#include "shell/events/event_list.h"
#include "shell/events/event_pane.h"
#include "shell/tree/enc_tree.h"
#include "shell/tree/left_pane.h"
#include "shell/tree/poll_driver.h"
#include "tests/support/loopback_manager.h"

using namespace halvorin;

namespace {

constexpr int kEnclosuresPerHost = 4;

void MeasureIdleTick(const sim::Scenario& scenario, int hosts, int timed_ticks) {
    auto agents = bench::StartHosts(scenario, hosts, kEnclosuresPerHost);
    if (agents.empty()) return;
    ManualClock clock;
    DomainRegistry registry(test::LoopbackManager::ManagerOptions(clock));
    CLeftPane pane(registry);
    pane.resize(360, 800);
    const double seconds = bench::ReadIntoTree(pane, agents, kEnclosuresPerHost, 120);
    if (seconds < 0) {
        std::fprintf(stderr, "the hosts were not read within two minutes\n");
        return;
    }
    std::printf("%d hosts x %d enclosures read and in the tree after %.1f s\n", hosts,
                kEnclosuresPerHost, seconds);
    // Past the device-list window after connecting, well before the next
    // minute's refresh: a tick that finds nothing to do.
    clock.AdvanceSeconds(10);
    pane.Driver()->Tick();
    QApplication::processEvents();
    std::vector<double> ticks;
    for (int i = 0; i < timed_ticks; ++i) {
        QElapsedTimer one;
        one.start();
        pane.Driver()->Tick();
        ticks.push_back(double(one.nsecsElapsed()) / 1e6);
    }
    std::sort(ticks.begin(), ticks.end());
    std::printf(
        "one idle tick (poll steps + tree), %d hosts x %d enclosures: median %.3f ms, "
        "95th %.3f ms, worst %.3f ms\n",
        hosts, kEnclosuresPerHost, ticks[ticks.size() / 2], ticks[ticks.size() * 95 / 100],
        ticks.back());
}

void MeasureEvents() {
    QTemporaryDir history;
    CEventPane pane(history.path().toStdString());
    pane.resize(360, 600);
    pane.show();
    QApplication::processEvents();
    QElapsedTimer elapsed;
    elapsed.start();
    for (int i = 0; i < CEventList::kMaxRows; ++i) {
        pane.List()->AddEvent(1'765'000'000 + i, i % 3, "JBOD-84-REAR", 20007,
                              {QString("power supply %1").arg(i % 4 + 1), "power supply"},
                              CEventList::Position::kBottom);
    }
    const double added = double(elapsed.nsecsElapsed()) / 1e6;
    QApplication::processEvents();  // the scroll bar and one paint
    const double shown = double(elapsed.nsecsElapsed()) / 1e6;
    std::printf("10000 events appended (history written): %.1f ms; shown: %.1f ms\n", added, shown);
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = bench::TakeQuickFlag(argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    std::string error;
    auto scenario =
        sim::LoadScenario(std::string(HALVORIN_SOURCE_DIR) + "/sim/scenarios/jbod24.json", error);
    if (!scenario) return 1;
    MeasureEvents();
    MeasureIdleTick(*scenario, quick ? 5 : 250, quick ? 5 : 200);
    return 0;
}
