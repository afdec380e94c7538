// halvorinctl restart and shutdown: the enclosure's power commands, asked
// for first; a restart is followed until the enclosure is back.

#include "apps/halvorinctl/action_support.h"

#include "apps/halvorinctl/command.h"
#include "apps/halvorinctl/enclosure_report.h"
#include "base/string_table.h"
#include "base/utf16.h"
#include "enclosure/model/display_name.h"
#include "enclosure/model/element_types.h"

namespace halvorin::ctl {

namespace {

// Follows a restarting enclosure: gone from the device list, then back.
bool FollowRestart(ActionContext& c, const DeviceId& id, CSesDomain* domain) {
    bool vanished = false;
    return FollowDevice(c, domain, id, [&](CSesDev* device) {
        if (!device && !vanished) {
            vanished = true;
            Say(c, "device gone from its host");
        }
        if (!device || !vanished || !(device->Flags() & kDeviceReady)) return false;
        Say(c, "device back and read");
        return true;
    });
}

int PowerCommand(ActionContext& c, CSubEnc* subenc, uint8_t command) {
    const bool restart = command == kRestartCommand;
    const std::string name = Who(c, subenc);
    const std::string question = Utf16ToUtf8(LoadString(restart ? 126 : 125));
    if (!Confirm(c,
                 name + ": " +
                     (question.empty() ? (restart ? "restart the device?" : "shut the device down?")
                                       : question))) {
        return kExitUsage;
    }
    const DeviceId id = subenc->dev->Identifier();
    CSesDomain* domain = subenc->dev->domain;
    const OperatorAction action = restart ? OperatorAction::kRestart : OperatorAction::kShutdown;
    const int result = RunOperation(
        c, action, {EnclosureDisplayName(subenc)},
        [&](OperationCallback cb) { return SendEnclosureCommand(subenc, command, std::move(cb)); });
    if (result < 0) return Failed(restart ? "restart" : "shutdown", result);
    Say(c, name + ": " + (restart ? "restarting" : "shutting down"));
    std::fflush(stdout);
    if (!restart) return 0;
    return FollowRestart(c, id, domain) ? 0 : kExitOperationFailed;
}

int Restart(ActionContext& c, CSubEnc* subenc) {
    return PowerCommand(c, subenc, kRestartCommand);
}

int Shutdown(ActionContext& c, CSubEnc* subenc) {
    return PowerCommand(c, subenc, kShutdownCommand);
}

}  // namespace

extern const Command kCommandRestart = {
    "restart",
    "  restart ENCLOSURE             restart the enclosure and follow it back\n",
    {kOptYes, kOptJson, kOptQuiet},
    NeedsEnclosure,
    [](ManagerSession& session, const CommandLine& line) {
        return RunAction(session, line, Restart);
    },
};

extern const Command kCommandShutdown = {
    "shutdown",
    "  shutdown ENCLOSURE            shut the enclosure down\n",
    {kOptYes, kOptJson, kOptQuiet},
    NeedsEnclosure,
    [](ManagerSession& session, const CommandLine& line) {
        return RunAction(session, line, Shutdown);
    },
};

}  // namespace halvorin::ctl
