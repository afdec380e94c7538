// The one road to the interface thread. Work posted from another thread, and
// work the interface thread puts off until the current event is over (a
// screen reader's call must be answered before a press opens a modal loop),
// both go through here.
#pragma once

#include <functional>

class QObject;

namespace halvorin {

// Runs `work` on `receiver`'s thread, after the events already waiting
// there, in the order posted. Work for a receiver destroyed before it runs
// is dropped. Callable from any thread while `receiver` lives; `work` must
// own everything it uses (nothing captured by reference).
void PostToUi(QObject* receiver, std::function<void()> work);

}  // namespace halvorin
