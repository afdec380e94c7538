// The desktop program following a fleet: its "Domains" names N hosts, half
// of them reachable (agents on loopback addresses that report no device),
// half refused. On Qt's offscreen platform it prints, for each N, how long
// until every reachable host is connected, the longest the interface thread
// was held up while it followed them (a 10 ms timer's worst lateness over
// 10 s), how long the About window takes to open and paint, and the
// program's threads and resident memory.
//
//   bench_fleet_window [hosts...]   (default 100 1000 10000)

#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <filesystem>

#include "bench/bench_process.h"
#include "bench/fleet_agent.h"
#include "bench/quick_run.h"
#include "enclosure/model/domain_registry.h"
#include "net/ui/about_wnd.h"
#include "shell/app/app_settings.h"
#include "shell/app/halvorin_app.h"
#include "shell/frame/main_wnd.h"
#include "tests/support/process.h"

using namespace halvorin;

namespace {

// Runs the event loop for `ms` milliseconds.
void Spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The worst lateness of a 10 ms timer over `ms` milliseconds.
double WorstStallMs(int ms) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    double worst = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last) worst = std::max(worst, (now - last) / 1e6 - 10);
        last = now;
    });
    tick.start(10);
    Spin(ms);
    return worst;
}

// From the About command to the About window's first paint.
double AboutOpensMs(QWidget* main) {
    struct Painted : QObject {
        bool seen = false;
        bool eventFilter(QObject* object, QEvent* event) override {
            if (event->type() == QEvent::Paint && object->objectName() == CAboutWnd::kWindowClass)
                seen = true;
            return false;
        }
    } painted;
    qApp->installEventFilter(&painted);
    QElapsedTimer clock;
    clock.start();
    emit qobject_cast<CMainWnd*>(main)->Command(CHalvorinApp::kAboutCommand);
    while (!painted.seen && clock.elapsed() < 10'000)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    const double ms = clock.nsecsElapsed() / 1e6;
    qApp->removeEventFilter(&painted);
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->objectName() == CAboutWnd::kWindowClass) top->close();
    return ms;
}

void Measure(size_t hosts, uint16_t agent_port, uint16_t refused_port) {
    QStringList names;
    for (size_t i = 0; i < hosts; ++i)
        names << QString::fromStdString(bench::FleetHost(i, agent_port, refused_port));
    AppSettings().WriteNameList(AppSettings::kDomains, names);
    AppSettings().WriteRunMode(CHalvorinApp::kManagerMode);
    StartupOptions options;
    options.agent_port = test::FreePort();
    options.history_directory.clear();
    options.report_failure = [](const QString& message) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
    };
    QElapsedTimer clock;
    clock.start();
    CHalvorinApp app(options);
    if (!app.Startup()) return;
    const size_t reachable = (hosts + 1) / 2;
    auto connected = [&] {
        size_t n = 0;
        std::vector<Ref<CSesDomain>> all = ProcessRegistry().Snapshot();
        for (const Ref<CSesDomain>& d : all)
            n += d->client.state() == kStateReady;
        return n;
    };
    while (connected() < reachable && clock.elapsed() < 120'000)
        Spin(100);
    const double connect_s = clock.elapsed() / 1000.0;
    const double stall = WorstStallMs(10'000);
    const double about = AboutOpensMs(app.MainWindow());
    std::printf(
        "%6zu hosts: %5zu of %5zu reachable connected in %6.2f s; worst stall of the "
        "interface thread over 10 s %7.1f ms; About opens in %6.1f ms; threads %3zu, "
        "resident %7.1f MB\n",
        hosts, connected(), reachable, connect_s, stall, about, bench::EntriesIn("/proc/self/task"),
        bench::ResidentKiB() / 1024.0);
    std::fflush(stdout);
    app.Shutdown();
}

}  // namespace

int main(int argc, char** argv) {
    bench::RaiseDescriptorLimit();
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const bool quick = bench::TakeQuickFlag(argc, argv);
    const std::vector<size_t> counts = bench::CountsFrom(
        argc, argv, quick ? std::vector<size_t>{10} : std::vector<size_t>{100, 1000, 10000});
    bench::FleetAgent agent;
    const uint16_t refused = bench::RefusedPort();
    for (size_t hosts : counts)
        Measure(hosts, agent.port(), refused);
    return 0;
}
