// halvorinctl: the headless manager. Reads the enclosures of one or more
// hosts through their agents and prints them, follows their events, and
// (see `actions.cpp`) changes them.

#include <getopt.h>

#include <cctype>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <set>
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
    "  ident ENCLOSURE on|off --index N | --serial S | --sas-address A\n"
    "                                the same for the Nth slot of the group, or the\n"
    "                                slot holding the disk with that serial number\n"
    "                                or SAS address\n"
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
    "Every action takes --json and then prints one report (docs/JSON.md).\n"
    "ENCLOSURE is the display name, the system name or the WWN, as HOST/ENCLOSURE\n"
    "where more than one host reports it.\n"
    "\n"
    "Options:\n"
    "  -H, --host HOST[:PORT]   a host whose agent to ask (repeatable; default: this host)\n"
    "  -t, --timeout SECONDS    how long to wait for the enclosures to be read (default 60)\n"
    "      --wait               keep trying a host whose name does not resolve or that\n"
    "                           refuses the connection until the timeout (default: give\n"
    "                           up on it after one try)\n"
    "  -y, --yes                do not ask before restart, shutdown and upgrade\n"
    "  -q, --quiet              print nothing but errors (show and the actions): the\n"
    "                           exit status says how it went\n"
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
    std::string disk_sas_address;   // ident --sas-address, as 16 upper-case hex digits
    TlsFiles tls;
    bool wait = false;   // keep trying unreachable hosts until the timeout
    bool quiet = false;  // nothing on standard output: the exit status says it
};

int WholeNumber(const std::string& option, const std::string& text, int low, int high) {
    int value = 0;
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (problem != std::errc() || end != text.data() + text.size() || value < low || value > high)
        UsageError(option + " takes a whole number from " + std::to_string(low) + " to " +
                   std::to_string(high) + ", not \"" + text + "\"");
    return value;
}

enum OptionId {
    kOptJson = 1000,
    kOptReadings,
    kOptRedact,
    kOptListen,
    kOptAllowEmpty,
    kOptExpectEnclosures,
    kOptIndex,
    kOptSerial,
    kOptSasAddress,
    kOptTlsCa,
    kOptTlsCert,
    kOptTlsKey,
    kOptWait,
};

const option kLongOptions[] = {
    {"host", required_argument, nullptr, 'H'},
    {"timeout", required_argument, nullptr, 't'},
    {"wait", no_argument, nullptr, kOptWait},
    {"quiet", no_argument, nullptr, 'q'},
    {"yes", no_argument, nullptr, 'y'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"tls-ca", required_argument, nullptr, kOptTlsCa},
    {"tls-cert", required_argument, nullptr, kOptTlsCert},
    {"tls-key", required_argument, nullptr, kOptTlsKey},
    {"json", no_argument, nullptr, kOptJson},
    {"readings", no_argument, nullptr, kOptReadings},
    {"output", required_argument, nullptr, 'o'},
    {"redact", no_argument, nullptr, kOptRedact},
    {"listen", required_argument, nullptr, kOptListen},
    {"allow-empty", no_argument, nullptr, kOptAllowEmpty},
    {"expect-enclosures", required_argument, nullptr, kOptExpectEnclosures},
    {"index", required_argument, nullptr, kOptIndex},
    {"serial", required_argument, nullptr, kOptSerial},
    {"sas-address", required_argument, nullptr, kOptSasAddress},
    {nullptr, 0, nullptr, 0},
};

// Options that only some commands take; every other option is for all.
const std::map<int, std::set<std::string>> kOptionCommands = {
    {kOptJson,
     {"show", "watch", "ident", "mute", "uid-led", "rename", "zoning", "restart", "shutdown",
      "upgrade"}},
    {kOptReadings, {"watch"}},
    {'o', {"capture"}},
    {kOptRedact, {"capture"}},
    {kOptListen, {"metrics"}},
    {kOptAllowEmpty, {"show"}},
    {kOptExpectEnclosures, {"show"}},
    {kOptIndex, {"ident"}},
    {kOptSerial, {"ident"}},
    {kOptSasAddress, {"ident"}},
    {'y', {"restart", "shutdown", "upgrade"}},
    {'q',
     {"show", "ident", "mute", "uid-led", "rename", "zoning", "restart", "shutdown", "upgrade"}},
};

std::string OptionName(int id) {
    for (const option& o : kLongOptions)
        if (o.name && o.val == id) return std::string("--") + o.name;
    return "?";
}

// 16 hex digits, with or without "0x" and with ":" between bytes, as the
// tools that print SAS addresses write them.
std::string SasAddressOption(const std::string& text) {
    const bool prefixed = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0;
    std::string digits;
    bool hex = true;
    for (char ch : prefixed ? text.substr(2) : text) {
        if (ch == ':') continue;
        hex = hex && std::isxdigit(static_cast<unsigned char>(ch));
        digits += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    }
    if (!hex || digits.size() != 16)
        UsageError("--sas-address takes 16 hex digits (5000C50000001004), not \"" + text + "\"");
    return digits;
}

void TakeOption(CommandLine& line, int id, const std::string& value) {
    switch (id) {
        case 'H':
            line.hosts.push_back(value);
            // Waiting cannot mend a port that is no port.
            if (!ParseHostAddress(value, kDefaultAgentPort))
                UsageError("bad host \"" + value +
                           "\" (give NAME, NAME:PORT or [IPv6]:PORT with a port from 1 to 65535)");
            break;
        case 't':
            line.timeout_s = WholeNumber("--timeout", value, 1, 24 * 3600);
            line.timeout_given = true;
            break;
        case kOptWait:
            line.wait = true;
            break;
        case 'q':
            line.quiet = true;
            break;
        case 'y':
            line.yes = true;
            break;
        case kOptTlsCa:
            line.tls.ca = value;
            break;
        case kOptTlsCert:
            line.tls.cert = value;
            break;
        case kOptTlsKey:
            line.tls.key = value;
            break;
        case kOptJson:
            line.json = true;
            break;
        case kOptReadings:
            line.readings = true;
            break;
        case 'o':
            line.output = value;
            break;
        case kOptRedact:
            line.redact = true;
            break;
        case kOptListen:
            line.listen = value;
            break;
        case kOptAllowEmpty:
            line.allow_empty = true;
            break;
        case kOptExpectEnclosures:
            line.expect_enclosures = WholeNumber("--expect-enclosures", value, 0, 100000);
            break;
        case kOptIndex:
            line.slot_index = WholeNumber("--index", value, 1, 255);
            break;
        case kOptSerial:
            line.disk_serial = value;
            break;
        case kOptSasAddress:
            line.disk_sas_address = SasAddressOption(value);
            break;
    }
}

// Options may stand anywhere among the words ("ident ENC on --index 3");
// "--" ends them.
CommandLine Parse(int argc, char** argv) {
    CommandLine line;
    std::vector<int> given;
    opterr = 0;
    int id = 0;
    while ((id = getopt_long(argc, argv, ":H:t:o:yqhV", kLongOptions, nullptr)) != -1) {
        switch (id) {
            case 'h':
                std::fputs(kUsage, stdout);
                std::exit(kExitOk);
            case 'V':
                std::printf("halvorinctl %s\n", HALVORIN_VERSION);
                std::exit(kExitOk);
            case ':':
                UsageError(std::string("option ") + argv[optind - 1] + " needs a value");
            case '?':
                UsageError(std::string("unknown option '") + argv[optind - 1] + "'");
            default:
                TakeOption(line, id, optarg ? optarg : "");
                given.push_back(id);
        }
    }
    for (int i = optind; i < argc; ++i)
        line.words.push_back(argv[i]);
    if (line.words.empty()) UsageError("no command given");
    for (int option_id : given) {
        const auto only = kOptionCommands.find(option_id);
        if (only != kOptionCommands.end() && !only->second.contains(line.words[0]))
            UsageError(OptionName(option_id) + " is not an option of " + line.words[0]);
    }
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
    // For scripts that want only the exit status; errors still go to
    // standard error.
    if (line.quiet && !std::freopen("/dev/null", "w", stdout))
        UsageError("--quiet: cannot open /dev/null");
    ClientOptions client;
    if (line.tls.Any()) {
        std::string error;
        client.tls = TlsContext::Create(TlsRole::kManager, line.tls, error);
        if (!client.tls) UsageError("TLS: " + error);
    }
    ManagerSession session(line.hosts, StopRequested(), std::move(client));
    session.KeepTryingUnreachable(line.wait);
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
        context.json = line.json;
        context.disk_sas_address = line.disk_sas_address;
        code = RunAction(context);
    }
    StopFirmwareUpgrades();
    return StopRequested() ? Interrupted() : code;
}
