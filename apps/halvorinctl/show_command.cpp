// halvorinctl show: reads every enclosure of the hosts once and prints it, as
// text or as one JSON document.
#include <cstdio>

#include "apps/halvorinctl/command.h"
#include "apps/halvorinctl/enclosure_report.h"
#include "apps/halvorinctl/manager_session.h"
#include "base/clock.h"

namespace halvorin::ctl {

namespace {

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
    return CollectSubEnclosures(domain).size();
}

// A host that reports no enclosure (shut down, cable pulled) is a failure
// unless the operator expects that.
int Show(ManagerSession& session, const CommandLine& line) {
    const auto statuses = session.WaitUntilRead(std::chrono::seconds(line.timeout_s));
    if (session.interrupted()) return kExitUnreachable;
    bool failed = false;
    for (const HostStatus& status : statuses)
        failed = failed || Failed(status);
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

}  // namespace

extern const Command kCommandShow = {
    "show",
    "  show [--json] [--allow-empty] [--expect-enclosures N]\n"
    "                                print every enclosure, element and reading; a host\n"
    "                                without an enclosure fails unless --allow-empty\n",
    {kOptJson, kOptQuiet, kOptAllowEmpty, kOptExpectEnclosures},
    TakesNoWords,
    Show,
};

}  // namespace halvorin::ctl
