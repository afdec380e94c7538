// The enclosure view of an 84-bay dual-path enclosure with every group
// expanded, after two hours of history, in a 1460 x 960 window (offscreen):
// one refresh pass when nothing changed and when every sensor has a new
// sample, one full paint, and the memory the rows take.

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "bench/bench_process.h"
#include "bench/quick_run.h"
#include "enclosure/model/element_naming.h"
#include "enclosure/model/ses_domain.h"
#include "shell/theme/font_face.h"
#include "shell/theme/shared_look.h"
#include "shell/theme/string_resources.h"
#include "tests/support/loopback_manager.h"
#include "views/elem_list_box.h"

using namespace halvorin;
using Steady = std::chrono::steady_clock;

namespace {

double Ms(Steady::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Figures {
    double median = 0, worst = 0;
};
Figures Summarise(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

// How much history is built up and how many passes and paints are timed.
struct Runs {
    int history_minutes = 120;
    int quiet_passes = 500;
    int changed_passes = 40;
    int paints = 50;  // the first is cold and counted apart
};

}  // namespace

int main(int argc, char** argv) {
    const Runs runs = bench::TakeQuickFlag(argc, argv) ? Runs{2, 3, 2, 2} : Runs{};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    InstallStringTables();
    InstallLookWithFace(ChooseFontFace(FaceIsInstalledOnThisSystem));
    SetElementTypeNames(ElementTypeNamesFromStrings());

    std::string error;
    auto scenario = sim::LoadScenario(
        std::string(HALVORIN_SOURCE_DIR) + "/sim/scenarios/jbod84-dual-path.json", error);
    if (!scenario) return 1;
    test::LoopbackManager manager({*scenario});
    if (!manager.Start(error) ||
        !manager.PollUntil([&] { return manager.AllRead(scenario->devices.size()); })) {
        std::fprintf(stderr, "the model did not load: %s\n", error.c_str());
        return 1;
    }
    for (int minute = 0; minute < runs.history_minutes; ++minute)
        manager.Advance(60);

    std::vector<Ref<CSubEnc>> subencs = CollectSubEnclosures(manager.domain());
    const long before_kib = bench::ResidentKiB();
    auto list = std::make_unique<CElemListBox>(&manager.registry());
    list->resize(1460, 960);
    list->show();
    list->ShowSubEnc(subencs.front().get());
    for (int i = list->RowCount() - 1; i >= 0; --i) {
        if ((list->Row(i)->flags & ROW_GROUP_HEADER) && !(list->Row(i)->flags & ROW_EXPANDED)) {
            list->ToggleGroup(i);
        }
    }
    QApplication::processEvents();
    const long after_kib = bench::ResidentKiB();
    int element_rows = 0, chart_rows = 0;
    size_t chart_bytes = 0;
    for (int i = 0; i < list->RowCount(); ++i) {
        const CItemData* row = list->Row(i);
        if (!(row->flags & ROW_ELEMENT)) continue;
        ++element_rows;
        if (row->flags & ROW_HAS_CHART) {
            ++chart_rows;
            chart_bytes += size_t(row->chart.picture.sizeInBytes());
        }
    }
    // The sensors sit in the middle of the list: show them.
    for (int i = 0; i < list->RowCount(); ++i) {
        if (list->Row(i)->flags & ROW_HAS_CHART) {
            list->JumpToRow(i);
            break;
        }
    }
    list->repaint();

    std::vector<double> quiet, changed, paint;
    for (int i = 0; i < runs.quiet_passes; ++i) {
        const auto start = Steady::now();
        list->RefreshPass();
        quiet.push_back(Ms(Steady::now() - start));
    }
    for (int i = 0; i < runs.changed_passes; ++i) {
        manager.Advance(60);  // a new sample for every sensor
        const auto start = Steady::now();
        list->RefreshPass();
        changed.push_back(Ms(Steady::now() - start));
    }
    QImage target(list->size(), QImage::Format_ARGB32_Premultiplied);
    for (int i = 0; i < runs.paints; ++i) {
        const auto start = Steady::now();
        list->render(&target);
        paint.push_back(Ms(Steady::now() - start));
    }
    const double first_paint = paint.front();
    paint.erase(paint.begin());
    const Figures q = Summarise(quiet), c = Summarise(changed), p = Summarise(paint);
    std::printf("84-bay enclosure view, %d rows (%d element rows, %d charts), 1460 x 960\n",
                list->RowCount(), element_rows, chart_rows);
    std::printf("refresh pass, nothing changed:      median %.4f ms, worst %.4f ms\n", q.median,
                q.worst);
    std::printf("refresh pass, every sensor changed: median %.4f ms, worst %.4f ms\n", c.median,
                c.worst);
    std::printf("full paint of the window:           median %.4f ms, worst %.4f ms\n", p.median,
                p.worst);
    std::printf("first full paint (cold glyph caches): %.3f ms\n", first_paint);
    std::printf("chart pictures: %zu KiB in all, %zu KiB each\n", chart_bytes / 1024,
                chart_rows ? chart_bytes / 1024 / size_t(chart_rows) : 0);
    std::printf("row item without its chart: %zu bytes\n", sizeof(CItemData));
    std::printf("resident memory of the view: %ld KiB (%ld KiB per element row)\n",
                after_kib - before_kib, element_rows ? (after_kib - before_kib) / element_rows : 0);
    return 0;
}
