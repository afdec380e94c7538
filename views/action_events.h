// The events an operator's action on an enclosure leaves in the event list,
// as the action's record words them: every action leaves a line, whether
// the enclosure took it or not, so the list tells what was done to an
// enclosure and when.
#pragma once

#include "enclosure/ops/operator_action.h"

namespace halvorin {

class CSubEnc;

// Logs `event` about `subenc`, now.
void LogActionEvent(CSubEnc* subenc, const ActionEvent& event);

// The common case: the action's event about the enclosure, named as it is
// shown, after `result` (negative: its warning, with the reason).
void LogActionOutcome(OperatorAction action, CSubEnc* subenc, int result);

}  // namespace halvorin
