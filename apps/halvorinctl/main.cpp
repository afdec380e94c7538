// halvorinctl: the headless manager. Reads the enclosures of one or more
// hosts through their agents and prints them, follows their events, and
// changes them. Each command lives in its own file (see command.h); this
// file reads the command line and dispatches.

#include <getopt.h>

#include <cctype>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "apps/halvorinctl/command.h"
#include "apps/halvorinctl/host_list_file.h"
#include "apps/halvorinctl/manager_session.h"
#include "apps/halvorinctl/stop_signal.h"
#include "enclosure/ops/firmware_upgrade.h"
#include "net/protocol/host_address.h"
#include "net/tls/tls_context.h"

namespace {

using namespace halvorin;
using namespace halvorin::ctl;

// Options every command takes; the others belong to the commands that name them.
enum CommonOptionId : int {
    kOptHost = 'H',
    kOptTimeout = 't',
    kOptConfig = 'c',
    kOptWait = 2000,
    kOptTlsCa,
    kOptTlsCert,
    kOptTlsKey,
};

constexpr const char* kUsageHead =
    "Usage: halvorinctl [-H HOST[:PORT]]... [--timeout SECONDS] COMMAND [ARGS]\n"
    "Manage SAS enclosures through the Halvorin agents of their hosts.\n"
    "\n"
    "Commands:\n";

constexpr const char* kUsageTail =
    "Every action takes --json and then prints one report (docs/JSON.md).\n"
    "ENCLOSURE is the display name, the system name or the WWN, as HOST/ENCLOSURE\n"
    "where more than one host reports it.\n"
    "\n"
    "Options:\n"
    "  -H, --host HOST[:PORT]   a host whose agent to ask (repeatable; default: this host)\n"
    "  -c, --config FILE        the hosts in FILE too, one HOST[:PORT] a line ('#' starts\n"
    "                           a comment)\n"
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

void PrintUsage() {
    std::fputs(kUsageHead, stdout);
    for (const Command* command : Commands())
        std::fputs(command->synopsis, stdout);
    std::fputs(kUsageTail, stdout);
}

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

int WholeNumber(const std::string& option, const std::string& text, int low, int high) {
    int value = 0;
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (problem != std::errc() || end != text.data() + text.size() || value < low || value > high)
        UsageError(option + " takes a whole number from " + std::to_string(low) + " to " +
                   std::to_string(high) + ", not \"" + text + "\"");
    return value;
}

const option kLongOptions[] = {
    {"host", required_argument, nullptr, 'H'},
    {"config", required_argument, nullptr, kOptConfig},
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
    {"all-elements", no_argument, nullptr, kOptAllElements},
    {"allow-empty", no_argument, nullptr, kOptAllowEmpty},
    {"expect-enclosures", required_argument, nullptr, kOptExpectEnclosures},
    {"index", required_argument, nullptr, kOptIndex},
    {"serial", required_argument, nullptr, kOptSerial},
    {"sas-address", required_argument, nullptr, kOptSasAddress},
    {"activation-wait", required_argument, nullptr, kOptActivationWait},
    {nullptr, 0, nullptr, 0},
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
        case kOptHost:
            line.hosts.push_back(value);
            // Waiting cannot mend a port that is no port.
            if (!ParseHostAddress(value, kDefaultAgentPort))
                UsageError("bad host \"" + value +
                           "\" (give NAME, NAME:PORT or [IPv6]:PORT with a port from 1 to 65535)");
            break;
        case kOptConfig: {
            std::string error;
            const auto hosts = ReadHostList(value, error);
            if (!hosts) UsageError("--config: " + error);
            line.hosts.insert(line.hosts.end(), hosts->begin(), hosts->end());
            break;
        }
        case kOptTimeout:
            line.timeout_s = WholeNumber("--timeout", value, 1, 24 * 3600);
            line.timeout_given = true;
            break;
        case kOptWait:
            line.wait = true;
            break;
        case kOptQuiet:
            line.quiet = true;
            break;
        case kOptYes:
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
        case kOptOutput:
            line.output = value;
            break;
        case kOptRedact:
            line.redact = true;
            break;
        case kOptListen:
            line.listen = value;
            break;
        case kOptAllElements:
            line.all_elements = true;
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
        case kOptActivationWait:
            line.activation_wait_s = WholeNumber("--activation-wait", value, 0, 600);
            break;
    }
}

bool IsCommonOption(int id) {
    switch (id) {
        case kOptHost:
        case kOptConfig:
        case kOptTimeout:
        case kOptWait:
        case kOptTlsCa:
        case kOptTlsCert:
        case kOptTlsKey:
            return true;
        default:
            return false;
    }
}

// Options may stand anywhere among the words ("ident ENC on --index 3");
// "--" ends them. An option a command does not take, and words it cannot
// take, are usage errors before any host is asked.
CommandLine Parse(int argc, char** argv, const Command*& command) {
    CommandLine line;
    std::vector<int> given;
    opterr = 0;
    int id = 0;
    while ((id = getopt_long(argc, argv, ":H:c:t:o:yqhV", kLongOptions, nullptr)) != -1) {
        switch (id) {
            case 'h':
                PrintUsage();
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
    command = FindCommand(line.words[0]);
    if (!command) UsageError("unknown command '" + line.words[0] + "'");
    for (int option_id : given) {
        const auto& own = command->options;
        if (!IsCommonOption(option_id) && std::find(own.begin(), own.end(), option_id) == own.end())
            UsageError(OptionName(option_id) + " is not an option of " + line.words[0]);
    }
    if (const std::string problem = command->check(line); !problem.empty()) UsageError(problem);
    if (line.hosts.empty()) line.hosts.push_back("localhost");
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    const Command* command = nullptr;
    const CommandLine line = Parse(argc, argv, command);
    CatchStopSignals();
    std::signal(SIGPIPE, SIG_IGN);
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
    const int code = command->run(session, line);
    StopFirmwareUpgrades();
    return StopRequested() ? Interrupted() : code;
}
