// The file "standing" beside the event history: the status events whose
// conditions stood when the program last looked, one "enclosure<TAB>text"
// line each (UTF-8). The next start leaves those events out at the first
// read, so a restart does not log every standing fault again, while a
// condition that appeared while the program was closed is logged.
#pragma once

#include <string>

#include "enclosure/poll/standing_events.h"

namespace halvorin {

std::set<StandingEvent> ReadStandingEvents(const std::string& directory);

// Replaces the file with what stands now, keeping the lines of enclosures
// that were not looked at (a host not reached yet keeps its conditions).
// False, with `error`, when it cannot be written.
bool WriteStandingEvents(const std::string& directory, const StandingEvents& now,
                         std::string& error);

}  // namespace halvorin
