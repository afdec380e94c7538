// The commands of `halvorinctl` that change an enclosure: ident, mute,
// uid-led, rename, zoning, restart, shutdown and upgrade. Each waits for the
// enclosure's answer (polling on the calling thread) and prints what the
// enclosure reports after its re-read.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include "apps/halvorinctl/manager_session.h"

#include "enclosure/model/model_ref.h"

namespace halvorin::ctl {

inline constexpr int kExitOperationFailed = 3;

struct ActionContext {
    ManagerSession& session;
    std::vector<std::string> words;  // the command and its arguments
    bool assume_yes = false;
    int timeout_s = 60;
    bool timeout_given = false;  // --timeout was on the command line
    // ident: the slot by its position in the group (from 1) or by the serial
    // number of the disk in it, instead of its SES device slot number.
    std::optional<int> slot_index;
    std::string disk_serial;
    std::string disk_sas_address;  // 16 hex digits, or empty
    std::string host;              // the host the enclosure is reached through, set by RunAction
    // --json: what the action says goes into one report, printed at its end.
    bool json = false;
    nlohmann::json report = nlohmann::json::object();
};

// Runs an action command; the process exit status. Unknown commands are a
// usage error (1).
int RunAction(ActionContext& context);
bool IsActionCommand(const std::string& command);

// The enclosure an operator names: [HOST/]NAME, where NAME is the display
// name, the system name or the WWN (any letter case) and HOST one of the
// hosts as given with -H. A bare name that more than one enclosure answers to
// (a JBOD cabled to two servers shows under both) names none of them.
struct EnclosureMatch {
    Ref<CSubEnc> subenc;                  // empty when none or more than one matched
    std::string host;                     // the host it is reached through
    std::vector<std::string> candidates;  // "HOST/NAME (WWN)" of every enclosure that matched
};
EnclosureMatch FindEnclosure(ManagerSession& session, const std::string& name);
// Says on standard error why a name found nothing (or too much); exit status 2.
int ReportNotFound(const EnclosureMatch& match, const std::string& name,
                   const std::vector<HostStatus>& statuses);

}  // namespace halvorin::ctl
