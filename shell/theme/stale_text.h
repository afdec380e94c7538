// The words every view uses for values that are no longer current (their
// host does not answer, or their enclosure is gone): since when, and that
// actions wait until it is back.
#pragma once

#include <QString>
#include <cstdint>

namespace halvorin {

// "14:05:09" for a time of today, "2026-12-09 14:05" for an earlier one;
// "?" before any read.
QString LastReadClock(int64_t seconds);
// String 323: the tool tip of everything shown of such an enclosure.
QString StaleText(int64_t last_read_seconds);
// String 324: the dashboard's short form.
QString StaleShortText(int64_t last_read_seconds);

}  // namespace halvorin
