// Start-up time of the desktop program on its demo, on Qt's offscreen
// platform: ten fresh processes, each from exec to the first paint of the
// main window (with the time of each phase) and on to the tree listing the
// demo's enclosures.
//
//   bench_startup_time

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/quick_run.h"
#include "shell/app/halvorin_app.h"
#include "shell/frame/main_wnd.h"
#include "shell/tree/enc_tree.h"
#include "shell/tree/left_pane.h"
#include "tests/support/process.h"

extern char** environ;

namespace {

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Prints the moments of main, QApplication, start-up and first paint.
int RunChild(int argc, char** argv) {
    const int64_t at_main = NowUs();
    QApplication application(argc, argv);
    const int64_t at_application = NowUs();
    halvorin::StartupOptions options;
    options.agent_port = halvorin::test::FreePort();
    options.demo = true;
    options.report_failure = [](const QString& message) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
    };
    halvorin::CHalvorinApp app(options);
    if (!app.Startup()) return 1;
    const int64_t at_startup = NowUs();
    struct FirstPaint : QObject {
        int64_t at = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint && at == 0) at = NowUs();
            return false;
        }
    } first_paint;
    app.MainWindow()->installEventFilter(&first_paint);
    // Then until the tree lists the demo's enclosures (after a paint of it).
    auto* main = qobject_cast<halvorin::CMainWnd*>(app.MainWindow());
    int64_t listed = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        halvorin::CEncTree* tree = main->LeftPane()->Tree();
        if (first_paint.at == 0 || tree->HostCount() == 0 ||
            tree->SubEncsOf(tree->Host(0)).size() < 2)
            return;
        tree->viewport()->repaint();
        listed = NowUs();
        QApplication::quit();
    });
    watch.start(1);
    application.exec();
    std::printf("%lld %lld %lld %lld %lld\n", (long long)at_main, (long long)at_application,
                (long long)at_startup, (long long)first_paint.at, (long long)listed);
    return 0;
}

struct Sample {
    double to_main, application, startup, paint, total, listed;
};

bool RunOnce(const char* self, const QString& config, Sample& sample) {
    int out[2];
    if (::pipe(out) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::string xdg = "XDG_CONFIG_HOME=" + config.toStdString();
    std::string state = "XDG_STATE_HOME=" + config.toStdString();
    std::vector<char*> env;
    for (char** e = environ; *e; ++e) {
        if (!std::strncmp(*e, "XDG_CONFIG_HOME=", 16) ||
            !std::strncmp(*e, "QT_QPA_PLATFORM=", 16) || !std::strncmp(*e, "XDG_STATE_HOME=", 15))
            continue;
        env.push_back(*e);
    }
    std::string platform = "QT_QPA_PLATFORM=offscreen";
    env.push_back(xdg.data());
    env.push_back(state.data());
    env.push_back(platform.data());
    env.push_back(nullptr);
    std::string child = "--child";
    char* args[] = {const_cast<char*>(self), child.data(), nullptr};
    pid_t pid = -1;
    const int64_t at_spawn = NowUs();
    const int spawned = posix_spawn(&pid, self, &actions, nullptr, args, env.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) return false;
    char line[256] = {};
    const ssize_t n = ::read(out[0], line, sizeof line - 1);
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    long long main_at, application_at, startup_at, paint_at, listed_at;
    if (n <= 0 || std::sscanf(line, "%lld %lld %lld %lld %lld", &main_at, &application_at,
                              &startup_at, &paint_at, &listed_at) != 5)
        return false;
    sample = {(main_at - at_spawn) / 1000.0,          (application_at - main_at) / 1000.0,
              (startup_at - application_at) / 1000.0, (paint_at - startup_at) / 1000.0,
              (paint_at - at_spawn) / 1000.0,         (listed_at - at_spawn) / 1000.0};
    return true;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && !std::strcmp(argv[1], "--child")) return RunChild(argc, argv);
    const int runs = halvorin::bench::TakeQuickFlag(argc, argv) ? 1 : 10;
    std::vector<Sample> samples;
    for (int i = 0; i < runs; ++i) {
        QTemporaryDir config;  // a fresh profile every time
        Sample sample{};
        if (!RunOnce(argv[0], config.path(), sample)) {
            std::fprintf(stderr, "run %d failed\n", i + 1);
            return 1;
        }
        samples.push_back(sample);
    }
    auto column = [&](double Sample::*field) {
        std::vector<double> values;
        for (const Sample& s : samples)
            values.push_back(s.*field);
        return values;
    };
    std::printf("start-up to the first painted window, %d fresh processes (offscreen)\n", runs);
    std::printf("  exec to main:           median %7.1f ms\n", Median(column(&Sample::to_main)));
    std::printf("  QApplication:           median %7.1f ms\n",
                Median(column(&Sample::application)));
    std::printf("  CHalvorinApp::Startup:  median %7.1f ms\n", Median(column(&Sample::startup)));
    std::printf("  to the first paint:     median %7.1f ms\n", Median(column(&Sample::paint)));
    const auto totals = column(&Sample::total);
    std::printf("  total:                  median %7.1f ms  (min %.1f, max %.1f)\n", Median(totals),
                *std::min_element(totals.begin(), totals.end()),
                *std::max_element(totals.begin(), totals.end()));
    const auto listed = column(&Sample::listed);
    std::printf("  to the demo's enclosures in the tree: median %7.1f ms  (min %.1f, max %.1f)\n",
                Median(listed), *std::min_element(listed.begin(), listed.end()),
                *std::max_element(listed.begin(), listed.end()));
    return 0;
}
