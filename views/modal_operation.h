// Runs one enclosure operation the way the operator sees every one: a
// status window with its text over the program, the program's window
// disabled, and a local event loop (so the poll step and the views' timers
// keep running) until the operation's callback has come.
#pragma once

#include <QWidget>
#include <functional>

#include "enclosure/ops/control_operations.h"

namespace halvorin {

// `start` sends the operation with the callback it is given and returns its
// own result: a refusal (negative) ends the wait at once. Returns the
// operation's result, or -15 when the program ends during the wait.
int RunModalOperation(QWidget* owner, int text_id,
                      const std::function<int(OperationCallback)>& start);

// How many operations wait in their modal loop now (the window that owns
// one must not go away under it).
int ModalOperationsRunning();

}  // namespace halvorin
