// `halvorinctl watch`: follows the hosts and prints each status event as the
// event list shows it, and optionally each new sensor reading.
#pragma once

#include <atomic>

#include "apps/halvorinctl/manager_session.h"

namespace halvorin::ctl {

struct WatchOptions {
    bool json = false;
    bool readings = false;
};

// Returns when stop becomes true.
void RunWatch(ManagerSession& session, const WatchOptions& options, const std::atomic<bool>& stop);

// The event list's time text: month/day and time this year, with the year otherwise.
std::string EventTime(int64_t seconds);

}  // namespace halvorin::ctl
