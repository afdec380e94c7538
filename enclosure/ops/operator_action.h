// What an operator's action on an enclosure says, the same in every front
// end: the text shown while it waits, the event it leaves once the enclosure
// has taken it, and the warning it leaves when it failed. Texts are string
// ids, shown in the language of the table installed (English headless).
//
// What an action changes in the model is the operation's own business
// (control_operations.h): the model follows only an accepted request.
#pragma once

#include <string>
#include <vector>

#include "enclosure/poll/event_rule.h"

namespace halvorin {

enum class OperatorAction {
    kRename,        // done: the new name
    kMuteBuzzer,    // done, failed: the enclosure
    kUidLedOn,      // done, failed: the enclosure
    kUidLedOff,     // done, failed: the enclosure
    kSlotLedOn,     // done, failed: the slot, the enclosure
    kSlotLedOff,    // done, failed: the slot, the enclosure
    kApplyZoning,   // done, failed: the enclosure
    kUndoZoning,    // done: the enclosure (nothing is sent; `waiting` is a status shown)
    kRestart,       // done, failed: the enclosure
    kShutdown,      // done, failed: the enclosure
    kStartUpgrade,  // done, failed: the enclosure
};

struct ActionTexts {
    int waiting;  // shown while it runs
    int done;     // the event once the enclosure took it
    EventLevel done_level;
    int failed;  // the warning when it failed: the same subjects, then the reason
};

const ActionTexts& TextsOf(OperatorAction action);

// An event an action leaves: its level, message and arguments, and the
// text they make.
struct ActionEvent {
    EventLevel level = kEventInformation;
    int message_id = 0;
    std::vector<std::u16string> arguments;

    std::u16string Text() const;
};

// `subjects` as TextsOf's comment for the action lists them.
ActionEvent ActionDone(OperatorAction action, std::vector<std::u16string> subjects);
// The reason is the result's name and number ("timed out (-7)"); for an
// upgrade, why the package or the enclosure refused it.
ActionEvent ActionFailed(OperatorAction action, std::vector<std::u16string> subjects, int result);
// ActionFailed for a negative result, else ActionDone.
ActionEvent ActionOutcome(OperatorAction action, std::vector<std::u16string> subjects, int result);

// The firmware box's text for an upgrade that ended with `state`: its
// string id (0 on success).
int UpgradeResultText(int state);

}  // namespace halvorin
