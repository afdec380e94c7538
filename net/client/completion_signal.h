// One descriptor for many connections: readable while any of them has
// finished requests waiting for its owner. A manager that follows thousands
// of hosts sleeps on this one descriptor instead of one per host, and learns
// which connections to deliver from Take.
#pragma once

#include <mutex>
#include <vector>

#include "base/wakeup.h"

namespace halvorin {

class CSesClient;

class CompletionSignal {
  public:
    bool valid() const { return wakeup_.valid(); }
    int fd() const { return wakeup_.fd(); }

    // From any thread: `client` has finished requests waiting.
    void Notify(CSesClient* client);
    // The clients notified since the last Take, each once, in the order they
    // were notified; quiets the descriptor.
    std::vector<CSesClient*> Take();
    // A client that goes away is never handed out after this returns.
    void Forget(CSesClient* client);

  private:
    Wakeup wakeup_;
    std::mutex mutex_;
    std::vector<CSesClient*> waiting_;
};

}  // namespace halvorin
