// halvorinctl: the headless manager. Reads the enclosures of one or more
// hosts through their agents and prints them, follows their events, and
// (see `actions.cpp`) changes them.

#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "apps/halvorinctl/actions.h"
#include "apps/halvorinctl/capture.h"
#include "apps/halvorinctl/enclosure_report.h"
#include "apps/halvorinctl/manager_session.h"
#include "apps/halvorinctl/metrics_exporter.h"
#include "apps/halvorinctl/stop_signal.h"
#include "apps/halvorinctl/watch.h"
#include "base/clock.h"
#include "enclosure/ops/firmware_upgrade.h"
#include "net/protocol/host_address.h"
#include "net/tls/tls_context.h"

namespace {

using namespace halvorin;
using namespace halvorin::ctl;

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitUnreachable = 2;

constexpr const char* kUsage =
    "Usage: halvorinctl [-H HOST[:PORT]]... [--timeout SECONDS] COMMAND [ARGS]\n"
    "Manage SAS enclosures through the Halvorin agents of their hosts.\n"
    "\n"
    "Commands:\n"
    "  show [--json] [--allow-empty] [--expect-enclosures N]\n"
    "                                print every enclosure, element and reading; a host\n"
    "                                without an enclosure fails unless --allow-empty\n"
    "  watch [--json] [--readings]   print status events as they happen (and readings)\n"
    "  metrics --listen ADDR:PORT    follow the hosts and serve Prometheus metrics on\n"
    "                                http://ADDR:PORT/metrics\n"
    "  capture ENCLOSURE -o FILE [--redact]\n"
    "                                record what the enclosure's device answers as a\n"
    "                                scenario for halvorin-agentd --simulate (--redact\n"
    "                                replaces serial numbers, SAS addresses and WWNs)\n"
    "  ident ENCLOSURE SLOT on|off   switch the identification LED of the slot with\n"
    "                                that SES device slot number (as show prints it)\n"
    "  ident ENCLOSURE on|off --index N | --serial S\n"
    "                                the same for the Nth slot of the group, or the\n"
    "                                slot holding the disk with that serial number\n"
    "  mute ENCLOSURE                mute the buzzer\n"
    "  uid-led ENCLOSURE on|off      switch the system identification LED\n"
    "  rename ENCLOSURE NAME         set the system name (at most 32 bytes)\n"
    "  zoning ENCLOSURE show         print the SAS zoning of every port\n"
    "  zoning ENCLOSURE set PORT SLOTS... [set PORT SLOTS...]\n"
    "                                change ports' zones (slots like 1-12,15) and apply\n"
    "  zoning ENCLOSURE apply        send the zoning table again as the enclosure has it\n"
    "  restart ENCLOSURE             restart the enclosure and follow it back\n"
    "  shutdown ENCLOSURE            shut the enclosure down\n"
    "  upgrade ENCLOSURE PACKAGE     upgrade the firmware from a package\n"
    "ENCLOSURE is the display name, the system name or the WWN, as HOST/ENCLOSURE\n"
    "where more than one host reports it.\n"
    "\n"
    "Options:\n"
    "  -H, --host HOST[:PORT]   a host whose agent to ask (repeatable; default: this host)\n"
    "  -t, --timeout SECONDS    how long to wait for the enclosures to be read (default 60)\n"
    "  -y, --yes                do not ask before restart, shutdown and upgrade\n"
    "      --tls-ca FILE        speak TLS to the agents and trust the agent\n"
    "                           certificates this CA (PEM) signed\n"
    "      --tls-cert FILE      show the agents this certificate (PEM) ...\n"
    "      --tls-key FILE       ... with its private key (PEM)\n"
    "  -h, --help               show this help and exit\n"
    "  -V, --version            show the version and exit\n"
    "\n"
    "Exit status: 0 when everything was read or done, 1 on usage errors (and an\n"
    "unconfirmed action), 2 when a host could not be reached, refused us, had no\n"
    "device that could be read or was not read in time (or the enclosure was not\n"
    "found), 3 when the enclosure refused or failed an action, 128 + the signal\n"
    "when SIGINT or SIGTERM ended the command.\n";

// A command ended by SIGINT or SIGTERM says so and exits 128 + the signal.
int Interrupted() {
    const int signal = StopSignalNumber();
    std::fprintf(stderr, "halvorinctl: interrupted by %s\n",
                 signal == SIGTERM ? "SIGTERM" : "SIGINT");
    return 128 + signal;
}

[[noreturn]] void UsageError(const std::string& message) {
    std::fprintf(stderr, "halvorinctl: %s\nTry 'halvorinctl --help'.\n", message.c_str());
    std::exit(kExitUsage);
}

struct CommandLine {
    std::vector<std::string> hosts;
    int timeout_s = 60;
    bool timeout_given = false;
    std::vector<std::string> words;  // the command and its arguments
    bool json = false;
    bool readings = false;
    bool yes = false;
    std::string listen;  // metrics: where to serve
    std::string output;  // capture: the file to write
    bool redact = false;
    bool allow_empty = false;       // show: a host without enclosures is no failure
    int expect_enclosures = 0;      // show: fewer enclosures than this fail
    std::optional<int> slot_index;  // ident --index
    std::string disk_serial;        // ident --serial
    TlsFiles tls;
};

int WholeNumber(const std::string& option, const std::string& text, int low, int high) {
    int value = 0;
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (problem != std::errc() || end != text.data() + text.size() || value < low || value > high)
        UsageError(option + " takes a whole number from " + std::to_string(low) + " to " +
                   std::to_string(high) + ", not \"" + text + "\"");
    return value;
}

CommandLine Parse(int argc, char** argv) {
    CommandLine line;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) UsageError("option " + arg + " needs a value");
            return argv[++i];
        };
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(kExitOk);
        } else if (arg == "-V" || arg == "--version") {
            std::printf("halvorinctl %s\n", HALVORIN_VERSION);
            std::exit(kExitOk);
        } else if (arg == "-H" || arg == "--host") {
            line.hosts.push_back(value());
            // Waiting cannot mend a port that is no port.
            if (!ParseHostAddress(line.hosts.back(), kDefaultAgentPort))
                UsageError("bad host \"" + line.hosts.back() +
                           "\" (give NAME, NAME:PORT or [IPv6]:PORT with a port from 1 to 65535)");
        } else if (arg == "-t" || arg == "--timeout") {
            line.timeout_s = WholeNumber(arg, value(), 1, 24 * 3600);
            line.timeout_given = true;
        } else if (arg == "--json") {
            line.json = true;
        } else if (arg == "--readings") {
            line.readings = true;
        } else if (arg == "-o" || arg == "--output") {
            line.output = value();
        } else if (arg == "--redact") {
            line.redact = true;
        } else if (arg == "--listen") {
            line.listen = value();
        } else if (arg == "--allow-empty") {
            line.allow_empty = true;
        } else if (arg == "--expect-enclosures") {
            line.expect_enclosures = WholeNumber(arg, value(), 0, 100000);
        } else if (arg == "--index") {
            line.slot_index = WholeNumber(arg, value(), 1, 255);
        } else if (arg == "--serial") {
            line.disk_serial = value();
        } else if (arg == "--tls-ca") {
            line.tls.ca = value();
        } else if (arg == "--tls-cert") {
            line.tls.cert = value();
        } else if (arg == "--tls-key") {
            line.tls.key = value();
        } else if (arg == "-y" || arg == "--yes") {
            line.yes = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            UsageError("unknown option '" + arg + "'");
        } else {
            line.words.push_back(arg);
        }
    }
    if (line.words.empty()) UsageError("no command given");
    if (line.hosts.empty()) line.hosts.push_back("localhost");
    return line;
}

bool Failed(const HostStatus& status) {
    return status.outcome != HostOutcome::kReady && status.outcome != HostOutcome::kNoDevices;
}

void ReportUnread(const std::vector<HostStatus>& statuses) {
    for (const HostStatus& s : statuses) {
        if (!Failed(s)) continue;
        std::fprintf(stderr, "halvorinctl: %s: %s%s%s\n", s.host.c_str(), OutcomeName(s.outcome),
                     s.detail.empty() ? "" : ": ", s.detail.c_str());
    }
}

size_t EnclosureCount(CSesDomain* domain) {
    if (!domain) return 0;
    std::vector<CSubEnc*> all = CollectSubEnclosures(domain);
    const size_t count = all.size();
    ReleaseSubEnclosures(all);
    return count;
}

int Show(ManagerSession& session, const CommandLine& line) {
    const auto statuses = session.WaitUntilRead(std::chrono::seconds(line.timeout_s));
    if (session.interrupted()) return kExitUnreachable;
    bool failed = false;
    for (const HostStatus& status : statuses)
        failed = failed || Failed(status);
    // A host that reports no enclosure (shut down, cable pulled) is a
    // failure unless the operator expects that.
    size_t enclosures = 0;
    for (size_t i = 0; i < statuses.size(); ++i) {
        const size_t here = EnclosureCount(session.domains()[i]);
        enclosures += here;
        if (here == 0 && !line.allow_empty && !Failed(statuses[i])) {
            std::fprintf(stderr, "halvorinctl: %s: no enclosure (--allow-empty accepts that)\n",
                         statuses[i].host.c_str());
            failed = true;
        }
    }
    if (enclosures < size_t(line.expect_enclosures)) {
        std::fprintf(stderr, "halvorinctl: %zu enclosure(s) read, %d expected\n", enclosures,
                     line.expect_enclosures);
        failed = true;
    }
    if (line.json) {
        nlohmann::json hosts = nlohmann::json::array();
        for (size_t i = 0; i < statuses.size(); ++i)
            hosts.push_back(HostReport(session.domains()[i], statuses[i]));
        const nlohmann::json report = {{"format_version", kJsonFormatVersion},
                                       {"time", Rfc3339Utc(SystemClock().NowSeconds())},
                                       {"epoch", SystemClock().NowSeconds()},
                                       {"hosts", hosts}};
        std::printf("%s\n", report.dump(2).c_str());
    } else {
        for (size_t i = 0; i < statuses.size(); ++i)
            PrintTextReport(session.domains()[i], statuses[i], stdout);
    }
    ReportUnread(statuses);
    return failed ? kExitUnreachable : kExitOk;
}

int Watch(ManagerSession& session, const CommandLine& line) {
    RunWatch(session, WatchOptions{line.json, line.readings}, StopRequested());
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine line = Parse(argc, argv);
    CatchStopSignals();
    std::signal(SIGPIPE, SIG_IGN);
    const std::string& command = line.words[0];
    if (command != "show" && command != "watch" && command != "metrics" && command != "capture" &&
        !IsActionCommand(command)) {
        UsageError("unknown command '" + command + "'");
    }
    if ((command == "show" || command == "watch" || command == "metrics") && line.words.size() > 1)
        UsageError(command + " takes no words, not \"" + line.words[1] + "\"");
    if (command == "metrics" && line.listen.empty()) UsageError("metrics needs --listen ADDR:PORT");
    if (command == "capture" && (line.words.size() != 2 || line.output.empty()))
        UsageError("capture needs an ENCLOSURE and -o FILE");
    ClientOptions client;
    if (line.tls.Any()) {
        std::string error;
        client.tls = TlsContext::Create(TlsRole::kManager, line.tls, error);
        if (!client.tls) UsageError("TLS: " + error);
    }
    ManagerSession session(line.hosts, StopRequested(), std::move(client));
    int code;
    if (command == "show") {
        code = Show(session, line);
    } else if (command == "watch") {
        code = Watch(session, line);
    } else if (command == "metrics") {
        code = RunMetrics(session, line.listen, StopRequested());
    } else if (command == "capture") {
        code = RunCapture(session, line.words[1], line.output, line.redact, line.timeout_s);
    } else {
        ActionContext context{session,         line.words,         line.yes,
                              line.timeout_s,  line.timeout_given, line.slot_index,
                              line.disk_serial};
        code = RunAction(context);
    }
    StopFirmwareUpgrades();
    return StopRequested() ? Interrupted() : code;
}
