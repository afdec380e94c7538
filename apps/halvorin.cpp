// halvorin: the desktop program. Manages the enclosures of this host and of
// the remote hosts the operator lists (manager mode), or serves this host's
// enclosures to other managers from the notification area (agent mode).

#include <QApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/log.h"
#include "shell/app/halvorin_app.h"

namespace {

constexpr const char* kUsage =
    "Usage: halvorin [--demo] [--port PORT]\n"
    "Manage SAS enclosures (JBODs) through the Halvorin agents of their hosts.\n"
    "\n"
    "  --demo         also serve the built-in simulated enclosures from this\n"
    "                 program's own agent, so that this host shows them\n"
    "  --port PORT    serve this host's enclosures on PORT instead of 6000\n"
    "  --allow-claimed-names  in agent mode, accept a listed manager name on the\n"
    "                 manager's word; by default the name must resolve to the\n"
    "                 manager's address and that address back to the name\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "\n"
    "Every instance serves this host's enclosures on a TCP port. Settings\n"
    "live in ~/.config/Halvorin/Halvorin.conf.\n";

}  // namespace

int main(int argc, char** argv) {
    halvorin::StartupOptions options;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "--help")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!std::strcmp(argv[i], "-V") || !std::strcmp(argv[i], "--version")) {
            std::printf("halvorin %s\n", HALVORIN_VERSION);
            return 0;
        }
        if (!std::strcmp(argv[i], "--demo")) {
            options.demo = true;
            continue;
        }
        if (!std::strcmp(argv[i], "--allow-claimed-names")) {
            options.accept_claimed_names = true;
            continue;
        }
        if (!std::strcmp(argv[i], "--port")) {
            char* end = nullptr;
            const long port = i + 1 < argc ? std::strtol(argv[i + 1], &end, 10) : 0;
            if (port < 1 || port > 65535 || !end || *end != '\0') {
                std::fprintf(stderr, "halvorin: --port wants a port number from 1 to 65535\n");
                return 1;
            }
            options.agent_port = static_cast<uint16_t>(port);
            ++i;
            continue;
        }
        // Qt's own options (-platform, -style, ...) pass through to it.
        if (argv[i][0] == '-' && argv[i][1] == '-') {
            std::fprintf(stderr, "halvorin: unknown option %s\nTry 'halvorin --help'.\n", argv[i]);
            return 1;
        }
    }
    // A peer that goes away mid-send must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    halvorin::SetLogSink(halvorin::LogToStderr);

    QApplication application(argc, argv);
    application.setQuitOnLastWindowClosed(false);  // agent mode has no visible window
    halvorin::CHalvorinApp app(std::move(options));
    if (!app.Startup()) return 1;
    const int status = application.exec();
    app.Shutdown();
    if (app.CommandsLeftRunning()) {
        // Those commands end in the kernel; nothing of ours may run after
        // this point, static destructors included.
        std::fflush(stderr);
        std::_Exit(status);
    }
    return status;
}
