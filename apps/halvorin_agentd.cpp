// halvorin-agentd: the agent without a desktop, for servers that hold JBODs.
// Serves this host's enclosure services devices to the authorised managers
// until SIGTERM or SIGINT.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/log.h"
#include "base/result_code.h"
#include "base/utf16.h"
#include "enclosure/scsi/scsi_transport.h"
#include "net/agent/agent_service.h"
#include "sim/attach.h"

namespace {

using namespace halvorin;

constexpr const char* kUsage =
    "Usage: halvorin-agentd [OPTIONS]\n"
    "Serve this host's SCSI enclosures to Halvorin managers.\n"
    "\n"
    "  -a, --allow NAME     authorise the manager computer NAME (repeatable;\n"
    "                       names compare without regard to case)\n"
    "  -p, --port PORT      listen on TCP PORT (default 6000)\n"
    "  -s, --simulate FILE  also serve the simulated enclosure FILE describes\n"
    "                       (repeatable; see sim/README.md)\n"
    "  -h, --help           show this help and exit\n"
    "  -V, --version        show the version and exit\n"
    "\n"
    "Without --allow no manager is authorised. Reaching real enclosures needs\n"
    "read and write access to /dev/sg* (root, or the group that owns them).\n";

struct Options {
    std::vector<std::u16string> allowed;
    std::vector<std::string> scenarios;
    uint16_t port = kDefaultAgentPort;
};

[[noreturn]] void UsageError(const std::string& message) {
    std::fprintf(stderr, "halvorin-agentd: %s\nTry 'halvorin-agentd --help'.\n", message.c_str());
    std::exit(1);
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) UsageError("option " + arg + " needs a value");
            return argv[++i];
        };
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (arg == "-V" || arg == "--version") {
            std::printf("halvorin-agentd %s\n", HALVORIN_VERSION);
            std::exit(0);
        } else if (arg == "-a" || arg == "--allow") {
            options.allowed.push_back(Utf8ToUtf16(value()));
        } else if (arg == "-s" || arg == "--simulate") {
            options.scenarios.push_back(value());
        } else if (arg == "-p" || arg == "--port") {
            const std::string text = value();
            char* end = nullptr;
            const long port = std::strtol(text.c_str(), &end, 10);
            if (*end != '\0' || port < 1 || port > 65535) UsageError("bad port '" + text + "'");
            options.port = static_cast<uint16_t>(port);
        } else {
            UsageError("unknown option '" + arg + "'");
        }
    }
    return options;
}

int WaitForTerminationSignal() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    int received = 0;
    sigwait(&signals, &received);
    return received;
}

}  // namespace

int main(int argc, char** argv) {
    Options options = ParseOptions(argc, argv);
    SetLogSink(LogToStderr);

    // Block the termination signals before any thread starts, so only the
    // main thread receives them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::string error;
    auto simulated =
        sim::AttachScenarios(ProcessTransport(), options.scenarios, SystemClock(), error);
    if (!simulated) {
        std::fprintf(stderr, "halvorin-agentd: %s\n", error.c_str());
        return 1;
    }
    for (const auto& enclosure : simulated->Enclosures()) {
        Log("simulating \"" + enclosure->scenario().name + "\"");
    }

    ServerSetAuthorized(options.allowed);
    if (ServerStart(options.port) != kOk) {
        std::fprintf(stderr, "halvorin-agentd: %s\n", ServerStartError().c_str());
        return 1;
    }
    if (options.allowed.empty()) Log("no manager is authorised (use --allow NAME)");
    for (const auto& name : options.allowed)
        Log("authorised manager name: " + Utf16ToUtf8(name));

    const int signal_number = WaitForTerminationSignal();
    Log(std::string("received ") + strsignal(signal_number) + ", stopping");
    if (ServerStop() > 0) {
        // Those commands end in the kernel; nothing of ours may run after
        // this point, static destructors included.
        std::fflush(stderr);
        std::_Exit(0);
    }
    return 0;
}
