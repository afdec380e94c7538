// The dashboard's cost on the interface thread with 1,000 enclosures listed
// (250 hosts of 4 each, real agents on loopback): the one-second pass and
// the three-second rebuild of the row set, both when nothing changed, and
// one pass that finds a failed power supply.

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <set>
#include <vector>

#include "bench/hosts_in_tree.h"
#include "bench/quick_run.h"
#include "enclosure/model/element_types.h"
#include "shell/theme/shared_look.h"
#include "shell/theme/string_resources.h"
#include "shell/tree/enc_tree.h"
#include "shell/tree/left_pane.h"
#include "shell/tree/poll_driver.h"
#include "views/elem_list_box.h"

using namespace halvorin;

namespace {

constexpr int kEnclosuresPerHost = 4;

struct Figures {
    double median, p95, worst;
};

template <typename Step>
Figures Measure(int runs, Step step) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer one;
        one.start();
        step();
        ms.push_back(double(one.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[ms.size() * 95 / 100], ms.back()};
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = bench::TakeQuickFlag(argc, argv);
    const int hosts = quick ? 5 : 250;
    const int passes = quick ? 5 : 500, rebuilds = quick ? 5 : 100;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    InstallStringTables();
    InstallLookWithFace({});
    std::string error;
    auto scenario =
        sim::LoadScenario(std::string(HALVORIN_SOURCE_DIR) + "/sim/scenarios/jbod24.json", error);
    if (!scenario) return 1;
    // A power supply fails at 90 s of scenario time; only the first host's
    // time will get there.
    sim::EventSpec failure;
    failure.at_seconds = 90;
    failure.action = sim::EventAction::kPowerSupplyFail;
    failure.type = kTypePowerSupply;
    scenario->events.push_back(failure);
    auto agents = bench::StartHosts(*scenario, hosts, kEnclosuresPerHost);
    if (agents.empty()) return 1;
    ManualClock clock;
    DomainRegistry registry(test::LoopbackManager::ManagerOptions(clock));
    CLeftPane pane(registry);
    const double seconds = bench::ReadIntoTree(pane, agents, kEnclosuresPerHost, 180);
    if (seconds < 0) {
        std::fprintf(stderr, "the hosts were not read within three minutes\n");
        return 1;
    }
    std::printf("%d hosts x %d enclosures read in %.1f s\n", hosts, kEnclosuresPerHost, seconds);
    CElemListBox list(&registry);
    list.resize(1400, 900);
    list.show();
    list.ShowSubEnc(nullptr);  // the welcome goes, the dashboard comes
    QApplication::processEvents();
    list.grab();  // painted once, as on screen
    std::printf("dashboard rows: %d\n", list.RowCount());

    const Figures pass = Measure(passes, [&] { list.RefreshPass(); });
    std::printf("one-second pass, nothing changed: median %.3f ms, 95th %.3f ms, worst %.3f ms\n",
                pass.median, pass.p95, pass.worst);
    const Figures rebuild = Measure(rebuilds, [&] { list.BuildOverviewRows(); });
    std::printf(
        "three-second rebuild, nothing changed: median %.3f ms, 95th %.3f ms, worst %.3f ms\n",
        rebuild.median, rebuild.p95, rebuild.worst);

    // The power supplies of the first host's enclosures fail: the list's own
    // one-second pass finds them and repaints their rows.
    const auto failed_rows = [&] {
        std::vector<int> rows;
        for (int i = 0; i < list.RowCount(); ++i) {
            const CItemData* row = list.Row(i);
            if (row->subenc && SubEncInfo(row->subenc.get()).counters[kTypePowerSupply].failed)
                rows.push_back(i);
        }
        return rows;
    };
    list.TakePaintedRows();
    agents.front()->clock().AdvanceSeconds(100);
    clock.AdvanceSeconds(61);
    QElapsedTimer waited;
    waited.start();
    while (failed_rows().size() < kEnclosuresPerHost && waited.elapsed() < 20000)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    const std::vector<int> rows = failed_rows();
    QElapsedTimer shown;
    shown.start();
    std::set<int> painted;
    while (shown.elapsed() < 3000 &&
           !std::all_of(rows.begin(), rows.end(), [&](int r) { return painted.count(r); })) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        painted.merge(list.TakePaintedRows());
    }
    std::printf(
        "%zu failed power supplies in the model; their rows repainted %.0f ms later, "
        "%zu rows painted in all\n",
        rows.size(), double(shown.elapsed()), painted.size());
    return 0;
}
