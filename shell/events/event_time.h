// How the event list writes an event's time: without the year for a time in
// the current year ("12/9 04:51:21", string 111), with it otherwise
// ("2025/12/31 23:59:59", string 110), in local time. The year's bounds are
// kept and recomputed when the year turns while the program runs.
#pragma once

#include <cstdint>
#include <string>

namespace halvorin {

struct YearBounds {
    int64_t start = 0;  // 1 January 00:00 local time of the year
    int64_t next = 0;   // 1 January 00:00 local time of the next year
    bool Contains(int64_t time) const { return time >= start && time < next; }
};

YearBounds YearBoundsAt(int64_t now);

class EventTimeFormat {
  public:
    explicit EventTimeFormat(int64_t now) : bounds_(YearBoundsAt(now)) {}

    // The text of `time`, as seen at `now` (which may have crossed into a new year).
    std::u16string Format(int64_t time, int64_t now);
    const YearBounds& bounds() const { return bounds_; }

  private:
    YearBounds bounds_;
};

}  // namespace halvorin
