// The commands of `halvorinctl` that change an enclosure: ident, mute,
// uid-led, rename, zoning, restart, shutdown and upgrade. Each waits for the
// enclosure's answer (polling on the calling thread) and prints what the
// enclosure reports after its re-read.
#pragma once

#include <string>
#include <vector>

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
};

// Runs an action command; the process exit status. Unknown commands are a
// usage error (1).
int RunAction(ActionContext& context);
bool IsActionCommand(const std::string& command);

// The enclosure an operator names: display name, system name or WWN (any
// letter case); empty when no host reports one.
Ref<CSubEnc> FindEnclosure(ManagerSession& session, const std::string& name);

}  // namespace halvorin::ctl
