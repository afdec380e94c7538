// The road by which the element views log what the operator started
// (firmware upgrade started, completed or failed; system name changed).
// The application installs the sink; it reaches the event list only while
// the manager's main window with its event pane is the top-level window.
#pragma once

#include <QStringList>
#include <functional>

namespace halvorin {

class CSubEnc;

using OperatorEventSink =
    std::function<void(int level, CSubEnc* subenc, int message_id, const QStringList& arguments)>;

// Replaces the sink (an empty one: operator events go nowhere).
void InstallOperatorEventSink(OperatorEventSink sink);

// Logs message `message_id` with `arguments` about `subenc`, now, at the
// bottom of the event list. Interface thread only.
void AddOperatorEvent(int level, CSubEnc* subenc, int message_id, const QStringList& arguments);

}  // namespace halvorin
