#include "net/client/completion_signal.h"

#include <algorithm>
#include <utility>

namespace halvorin {

void CompletionSignal::Notify(CSesClient* client) {
    // A client notifies only when its finished list stops being empty, so
    // it is here at most once.
    std::lock_guard lock(mutex_);
    if (waiting_.empty()) wakeup_.Signal();
    waiting_.push_back(client);
}

std::vector<CSesClient*> CompletionSignal::Take() {
    std::lock_guard lock(mutex_);
    wakeup_.Drain();
    return std::exchange(waiting_, {});
}

void CompletionSignal::Forget(CSesClient* client) {
    std::lock_guard lock(mutex_);
    std::erase(waiting_, client);
}

}  // namespace halvorin
