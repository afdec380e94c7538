#include "views/action_events.h"

#include <QStringList>

#include "enclosure/model/display_name.h"
#include "shell/events/operator_event.h"

namespace halvorin {

void LogActionEvent(CSubEnc* subenc, const ActionEvent& event) {
    QStringList arguments;
    for (const std::u16string& argument : event.arguments)
        arguments << QString::fromStdU16String(argument);
    AddOperatorEvent(event.level, subenc, event.message_id, arguments);
}

void LogActionOutcome(OperatorAction action, CSubEnc* subenc, int result) {
    const std::u16string name = EnclosureDisplayName(subenc);
    LogActionEvent(subenc, ActionOutcome(action, {name}, result));
}

}  // namespace halvorin
