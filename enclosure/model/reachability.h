// Whether what the model holds of an enclosure is current: its host's agent
// answers and the device is still on the host. When it is not, the values
// kept are the last ones read and no command can reach the enclosure, and
// every view must say so rather than show them as live.
#pragma once

#include <cstdint>

namespace halvorin {

class CSubEnc;

bool IsCurrent(const CSubEnc& subenc);
// Seconds since the epoch of the last status page read from its device; 0
// before any.
int64_t LastReadTime(const CSubEnc& subenc);

}  // namespace halvorin
