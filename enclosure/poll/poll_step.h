// The poll step: run for every domain ten times a second on the poll thread
// (the UI thread in the desktop program). It asks for the device list while
// a connection is new and once a minute, runs the handlers of the replies
// that have arrived, and refreshes every ready device once a minute.
#pragma once

namespace halvorin {

class CSesDomain;

inline constexpr int kPollIntervalMs = 100;
inline constexpr int kDeviceListWindowSeconds = 5;
inline constexpr int kRefreshPeriodSeconds = 60;

void PollStep(CSesDomain* domain);

}  // namespace halvorin
