// What the commands that change an enclosure share: their context, how they
// say what happened (text, or one JSON report), how they wait for an
// operation and its read-back, and how they find the enclosure named.
#pragma once

#include <nlohmann/json.hpp>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "apps/halvorinctl/command_line.h"
#include "apps/halvorinctl/manager_session.h"
#include "enclosure/model/model_ref.h"
#include "enclosure/ops/control_operations.h"
#include "enclosure/ops/operator_action.h"

namespace halvorin::ctl {

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
    int activation_wait_s = 10;    // upgrade --activation-wait
    // --json: what the action says goes into one report, printed at its end.
    bool json = false;
    nlohmann::json report = nlohmann::json::object();
};

// A line for the person at the terminal; with --json it goes into the
// report's "messages" instead, so standard output holds only the report.
void Say(ActionContext& c, const std::string& line);
__attribute__((format(printf, 1, 2))) std::string Printf(const char* format, ...);
// Says why on standard error; exit status 1 or 3.
int Usage(const std::string& message);
int Failed(const std::string& what, int result);

bool EqualsIgnoringCase(const std::string& a, const std::string& b);
// Polls until the condition holds, the time is up or we are interrupted.
bool PollUntil(ManagerSession& session, const std::function<bool()>& done, int timeout_s);
// Runs an operation: `start` sends it with a callback; then waits for the
// callback.
int RunOperation(ActionContext& c, const std::function<int(OperationCallback)>& start);
// Runs an operator's action the same way; the report takes the event it
// leaves, worded as the desktop's event list words it ("event": level,
// message_id, text). `subjects` as the action's record lists them.
int RunOperation(ActionContext& c, OperatorAction action, std::vector<std::u16string> subjects,
                 const std::function<int(OperationCallback)>& start);
// Puts the event an action left after `result` into the report.
void RecordOutcome(ActionContext& c, OperatorAction action, std::vector<std::u16string> subjects,
                   int result);

// True when everything the operation reads back has been answered and
// decoded (the connection is quiet).
bool WaitForRereads(ActionContext& c, CSesDev* device);
// Reads a kind again and waits for it (for data no operation re-reads itself).
void ReadBack(ActionContext& c, CSesDev* device, uint32_t kind);
// Asks on the terminal unless --yes; false without a terminal.
bool Confirm(const ActionContext& c, const std::string& question);

std::vector<Ref<CSesElem>> ElementsOf(CSubEnc* subenc, uint8_t type);
std::vector<Ref<CSesElem>> Slots(CSubEnc* subenc);
uint16_t Indicators(CSubEnc* subenc);
// The enclosure as output names it: the host it was reached through, then
// its name ("storage-01/RACK7-SHELF2").
std::string Who(const ActionContext& c, const CSubEnc* subenc);
// How long a restarting enclosure is followed unless --timeout says otherwise.
inline constexpr int kRestartFollowSeconds = 120;

// Follows a device through a restart of its enclosure: `look` sees the
// device at every poll step (nullptr while it is gone from its host) until it
// returns true. False when the time (two minutes, or --timeout when given)
// ran out or we were interrupted.
bool FollowDevice(ActionContext& c, CSesDomain* domain, const DeviceId& id,
                  const std::function<bool(CSesDev*)>& look);

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

// What an action does once its enclosure is found; its exit status.
using Action = int (*)(ActionContext& c, CSubEnc* subenc);
// Waits for the hosts, finds the enclosure the second word names and runs
// the action on it; with --json prints the one report whatever the outcome.
int RunAction(ManagerSession& session, const CommandLine& line, Action action);
// The check of every action's words: at least an ENCLOSURE.
std::string NeedsEnclosure(const CommandLine& line);

}  // namespace halvorin::ctl
