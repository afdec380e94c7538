// What the command line asked halvorinctl for, once parsed: the hosts, the
// command with its words, and every option. The option ids name the options
// a command may take (see Command).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "net/tls/tls_context.h"

namespace halvorin::ctl {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitUnreachable = 2;
inline constexpr int kExitOperationFailed = 3;

// Options that only some commands take; the short ones by their letter.
enum OptionId : int {
    kOptOutput = 'o',
    kOptYes = 'y',
    kOptQuiet = 'q',
    kOptJson = 1000,
    kOptReadings,
    kOptRedact,
    kOptListen,
    kOptAllElements,
    kOptAllowEmpty,
    kOptExpectEnclosures,
    kOptIndex,
    kOptSerial,
    kOptSasAddress,
    kOptActivationWait,
};

struct CommandLine {
    std::vector<std::string> hosts;
    int timeout_s = 60;
    bool timeout_given = false;
    bool wait = false;  // keep trying unreachable hosts until the timeout
    TlsFiles tls;
    std::vector<std::string> words;  // the command and its arguments
    bool json = false;
    bool quiet = false;  // nothing on standard output: the exit status says it
    bool yes = false;
    bool readings = false;
    std::string listen;         // metrics: where to serve
    bool all_elements = false;  // metrics: a series for every element, OK or not
    std::string output;         // capture: the file to write
    bool redact = false;
    bool allow_empty = false;       // show: a host without enclosures is no failure
    int expect_enclosures = 0;      // show: fewer enclosures than this fail
    std::optional<int> slot_index;  // ident --index
    std::string disk_serial;        // ident --serial
    std::string disk_sas_address;   // ident --sas-address, 16 upper-case hex digits
    int activation_wait_s = 10;     // upgrade: the enclosure's time to activate its firmware
};

}  // namespace halvorin::ctl
