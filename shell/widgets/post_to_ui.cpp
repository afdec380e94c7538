#include "shell/widgets/post_to_ui.h"

#include <QMetaObject>
#include <QObject>

namespace halvorin {

// A queued call is an event in the receiver's queue: Qt keeps the order,
// wakes the thread's event loop and removes the event with the receiver.
void PostToUi(QObject* receiver, std::function<void()> work) {
    QMetaObject::invokeMethod(receiver, std::move(work), Qt::QueuedConnection);
}

}  // namespace halvorin
