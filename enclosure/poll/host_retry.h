// A host that could not be reached is asked again soon instead of after the
// client's own 100 s: every 2 s for the first 20 s of the outage, then a
// tenth of the outage's length between tries, up to 30 s (reached after five
// minutes), and from 2 s again once it has been reached. An agent that
// restarts is therefore found within seconds, while a fleet of hosts that
// stay down is asked only every 30 s.
//
// Owner's thread only.
#pragma once

#include <chrono>
#include <unordered_map>
#include <unordered_set>

#include "net/client/ses_client.h"

namespace halvorin {

class HostRetrySchedule {
  public:
    using Time = std::chrono::steady_clock::time_point;
    static constexpr std::chrono::seconds kFirstRetry{2};
    static constexpr std::chrono::seconds kLongestWait{30};

    // Looks at one client at every poll step; true when it asked the client
    // to try again now.
    bool Step(CSesClient& client, Time now);
    // Forgets every client but these (hosts that left).
    void KeepOnly(const std::unordered_set<const CSesClient*>& clients);

  private:
    struct Next {
        Time since;  // when it was first found unreachable
        Time at;     // the next try
    };
    std::unordered_map<const CSesClient*, Next> next_;
};

}  // namespace halvorin
