#include "shell/events/event_time.h"

#include <gtest/gtest.h>

#include "base/string_table.h"

#include <cstdlib>
#include <ctime>

namespace halvorin {
namespace {

// Local time is pinned for the test, so the dates below mean what they say.
class EventTimeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        saved_ = tz ? std::optional<std::string>(tz) : std::nullopt;
        ::setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);  // no time zone database needed
        ::tzset();
    }
    void TearDown() override {
        if (saved_) {
            ::setenv("TZ", saved_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    static int64_t Local(int year, int month, int day, int hour, int minute, int second) {
        std::tm t{};
        t.tm_year = year - 1900;
        t.tm_mon = month - 1;
        t.tm_mday = day;
        t.tm_hour = hour;
        t.tm_min = minute;
        t.tm_sec = second;
        t.tm_isdst = -1;
        return int64_t(std::mktime(&t));
    }
    std::optional<std::string> saved_;
};

TEST_F(EventTimeTest, TheCurrentYearIsLeftOutAndOtherYearsAreWritten) {
    const int64_t now = Local(2026, 12, 9, 4, 51, 21);
    EventTimeFormat format(now);
    EXPECT_EQ(format.bounds().start, Local(2026, 1, 1, 0, 0, 0));
    EXPECT_EQ(format.bounds().next, Local(2027, 1, 1, 0, 0, 0));
    EXPECT_EQ(format.Format(now, now), u"12/9 04:51:21");
    EXPECT_EQ(format.Format(Local(2026, 12, 31, 23, 59, 59), now), u"12/31 23:59:59");
    EXPECT_EQ(format.Format(Local(2025, 12, 31, 23, 59, 59), now), u"2025/12/31 23:59:59");
    EXPECT_EQ(format.Format(Local(2026, 1, 1, 0, 0, 0), now), u"1/1 00:00:00");
}

TEST_F(EventTimeTest, TheBoundsFollowTheYearTurningWhileTheProgramRuns) {
    const int64_t before = Local(2026, 12, 31, 23, 59, 0);
    EventTimeFormat format(before);
    const int64_t event = Local(2026, 12, 31, 23, 58, 0);
    EXPECT_EQ(format.Format(event, before), u"12/31 23:58:00");
    const int64_t after = Local(2027, 1, 1, 0, 1, 0);
    EXPECT_EQ(format.Format(event, after), u"2026/12/31 23:58:00");
    EXPECT_EQ(format.Format(after, after), u"1/1 00:01:00");
    EXPECT_EQ(format.bounds().start, Local(2027, 1, 1, 0, 0, 0));
}

// A language whose tables put the day first gets it first: the formats
// name their arguments by position.
TEST_F(EventTimeTest, ATableMayPutTheDayFirst) {
    SetStringLookup([](int id) -> std::u16string {
        if (id == 110) return u"%3$d.%2$d.%1$d %4$02d:%5$02d:%6$02d";
        if (id == 111) return u"%2$d.%1$d. %3$02d:%4$02d:%5$02d";
        return u"";
    });
    const int64_t now = Local(2026, 12, 9, 4, 51, 21);
    EventTimeFormat format(now);
    EXPECT_EQ(format.Format(now, now), u"9.12. 04:51:21");
    EXPECT_EQ(format.Format(Local(2025, 3, 31, 23, 59, 59), now), u"31.3.2025 23:59:59");
    SetStringLookup(nullptr);
}

}  // namespace
}  // namespace halvorin
