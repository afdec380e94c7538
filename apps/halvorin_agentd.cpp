// halvorin-agentd: the agent without a desktop, for servers that hold JBODs.
// Serves this host's enclosure services devices to the authorised managers
// until SIGTERM or SIGINT.

#include <getopt.h>

#include <cerrno>
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
#include "net/agent/agent_server.h"
#include "net/agent/agent_service.h"
#include "net/agent/allow_entry.h"
#include "net/protocol/listen_address.h"
#include "sim/attach.h"

namespace {

using namespace halvorin;

constexpr const char* kUsage =
    "Usage: halvorin-agentd [OPTIONS]\n"
    "Serve this host's SCSI enclosures to Halvorin managers.\n"
    "\n"
    "  -a, --allow ENTRY       authorise managers (repeatable): a computer NAME,\n"
    "                          an ADDRESS (192.0.2.7, 2001:db8::5) or a NETWORK\n"
    "                          (192.0.2.0/24, 2001:db8::/32)\n"
    "      --allow-claimed-names  accept a listed NAME on the manager's word; by\n"
    "                          default it must resolve to the manager's address\n"
    "                          and that address back to the name\n"
    "  -l, --listen ADDR[:PORT]  listen on this numeric address (repeatable;\n"
    "                          IPv6 in brackets); default every IPv4 and IPv6 address\n"
    "  -p, --port PORT         the port for addresses given without one (default 6000)\n"
    "  -m, --max-managers N    serve at most N managers at once (default 8; 1 makes\n"
    "                          the others wait their turn instead of hearing busy)\n"
    "      --tls-cert FILE     speak TLS with this certificate (PEM) ...\n"
    "      --tls-key FILE      ... and its private key (PEM) ...\n"
    "      --tls-client-ca FILE  ... and serve only managers whose certificate\n"
    "                          this CA (PEM) signed; all three or none\n"
    "  -s, --simulate FILE     also serve the simulated enclosure FILE describes\n"
    "                          (repeatable; see sim/README.md)\n"
    "  -v, --verbose           also log every read\n"
    "  -h, --help              show this help and exit\n"
    "  -V, --version           show the version and exit\n"
    "\n"
    "Without --allow no manager is authorised. Every control write and firmware\n"
    "download is logged with the manager's name and address. Reaching real\n"
    "enclosures needs read and write access to /dev/sg* (root, or the group that\n"
    "owns them).\n";

struct Options {
    std::vector<std::u16string> allowed;
    std::vector<std::string> scenarios;
    AgentOptions agent;
};

[[noreturn]] void UsageError(const std::string& message) {
    std::fprintf(stderr, "halvorin-agentd: %s\nTry 'halvorin-agentd --help'.\n", message.c_str());
    std::exit(1);
}

long NumberIn(const char* text, long low, long high, const char* what) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || errno != 0 || value < low || value > high)
        UsageError(std::string("bad ") + what + " '" + text + "' (" + std::to_string(low) + ".." +
                   std::to_string(high) + ")");
    return value;
}

Options ParseOptions(int argc, char** argv) {
    enum { kClaimedNames = 1000, kTlsCert, kTlsKey, kTlsClientCa };
    const option longs[] = {
        {"allow", required_argument, nullptr, 'a'},
        {"allow-claimed-names", no_argument, nullptr, kClaimedNames},
        {"listen", required_argument, nullptr, 'l'},
        {"port", required_argument, nullptr, 'p'},
        {"max-managers", required_argument, nullptr, 'm'},
        {"simulate", required_argument, nullptr, 's'},
        {"tls-cert", required_argument, nullptr, kTlsCert},
        {"tls-key", required_argument, nullptr, kTlsKey},
        {"tls-client-ca", required_argument, nullptr, kTlsClientCa},
        {"verbose", no_argument, nullptr, 'v'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0},
    };
    Options options;
    opterr = 0;
    int c = 0;
    while ((c = getopt_long(argc, argv, ":a:l:p:m:s:vhV", longs, nullptr)) != -1) {
        switch (c) {
            case 'a':
                options.allowed.push_back(Utf8ToUtf16(optarg));
                if (!ParseAllowEntry(options.allowed.back()))
                    UsageError(std::string("bad allow entry '") + optarg + "'");
                break;
            case kClaimedNames:
                options.agent.accept_claimed_names = true;
                break;
            case 'l':
                options.agent.listen.push_back(optarg);
                break;
            case 'p':
                options.agent.port = static_cast<uint16_t>(NumberIn(optarg, 1, 65535, "port"));
                break;
            case 'm':
                options.agent.max_managers =
                    static_cast<size_t>(NumberIn(optarg, 1, 64, "number of managers"));
                break;
            case 's':
                options.scenarios.push_back(optarg);
                break;
            case kTlsCert:
                options.agent.tls.cert = optarg;
                break;
            case kTlsKey:
                options.agent.tls.key = optarg;
                break;
            case kTlsClientCa:
                options.agent.tls.ca = optarg;
                break;
            case 'v':
                options.agent.verbose = true;
                break;
            case 'h':
                std::fputs(kUsage, stdout);
                std::exit(0);
            case 'V':
                std::printf("halvorin-agentd %s\n", HALVORIN_VERSION);
                std::exit(0);
            case ':':
                UsageError(std::string("option ") + argv[optind - 1] + " needs a value");
            default:
                UsageError(std::string("unknown option '") + argv[optind - 1] + "'");
        }
    }
    if (optind < argc) UsageError(std::string("unexpected argument '") + argv[optind] + "'");
    std::string error;
    if (!ParseListenAddresses(options.agent.listen, options.agent.port, error)) UsageError(error);
    const TlsFiles& tls = options.agent.tls;
    if (tls.Any() && (tls.cert.empty() || tls.key.empty() || tls.ca.empty()))
        UsageError("TLS needs --tls-cert, --tls-key and --tls-client-ca together");
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
    if (ServerStart(options.agent) != kOk) {
        std::fprintf(stderr, "halvorin-agentd: %s\n", ServerStartError().c_str());
        return 1;
    }
    if (options.allowed.empty())
        Log(LogPriority::kWarning, "no manager is authorised (use --allow)");
    if (options.agent.accept_claimed_names)
        Log(LogPriority::kWarning,
            "names are accepted as managers claim them (--allow-claimed-names): anyone who "
            "can reach the port may claim a listed name");

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
