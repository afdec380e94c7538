// A descriptor that another thread can make readable, so a thread blocked in
// poll() on its sockets wakes at once (to stop, or to send new work).
#pragma once

#include "base/unique_fd.h"

namespace halvorin {

class Wakeup {
  public:
    Wakeup();
    bool valid() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }
    void Signal();
    // Consumes pending signals so the descriptor is quiet again.
    void Drain();

  private:
    UniqueFd fd_;
};

}  // namespace halvorin
