#include "shell/events/event_time.h"

#include <ctime>

#include "base/string_table.h"
#include "base/text_format.h"

namespace halvorin {

namespace {

int64_t NewYear(int year_since_1900) {
    std::tm t{};
    t.tm_year = year_since_1900;
    t.tm_mday = 1;
    t.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&t));
}

}  // namespace

YearBounds YearBoundsAt(int64_t now) {
    const std::time_t t = static_cast<std::time_t>(now);
    std::tm local{};
    localtime_r(&t, &local);
    return {NewYear(local.tm_year), NewYear(local.tm_year + 1)};
}

std::u16string EventTimeFormat::Format(int64_t time, int64_t now) {
    if (!bounds_.Contains(now)) bounds_ = YearBoundsAt(now);
    const std::time_t t = static_cast<std::time_t>(time);
    std::tm local{};
    localtime_r(&t, &local);
    if (bounds_.Contains(time)) {
        return FormatString(LoadString(111),
                            {int64_t(local.tm_mon + 1), int64_t(local.tm_mday),
                             int64_t(local.tm_hour), int64_t(local.tm_min), int64_t(local.tm_sec)});
    }
    return FormatString(LoadString(110), {int64_t(local.tm_year + 1900), int64_t(local.tm_mon + 1),
                                          int64_t(local.tm_mday), int64_t(local.tm_hour),
                                          int64_t(local.tm_min), int64_t(local.tm_sec)});
}

}  // namespace halvorin
