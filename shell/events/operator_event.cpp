#include "shell/events/operator_event.h"

namespace halvorin {

namespace {
OperatorEventSink& Sink() {
    static OperatorEventSink sink;
    return sink;
}
}  // namespace

void InstallOperatorEventSink(OperatorEventSink sink) {
    Sink() = std::move(sink);
}

void AddOperatorEvent(int level, CSubEnc* subenc, int message_id, const QStringList& arguments) {
    if (Sink()) Sink()(level, subenc, message_id, arguments);
}

}  // namespace halvorin
