#include "shell/events/event_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace halvorin {
namespace {

namespace fs = std::filesystem;

class EventLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("halvorin-eventlog-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        dir_ = (root_ / "state" / "Halvorin").string();
    }
    void TearDown() override { fs::remove_all(root_); }

    static EventEntry Event(int i) {
        return {1'700'000'000 + i, i % 3, u"LAB-JBOD-84",
                u"event " + std::u16string(1, u'0' + i % 10) + u"\twith\na \\ tab"};
    }

    fs::path root_;
    std::string dir_;
};

TEST_F(EventLogTest, EventsWrittenByOneRunAreReadBackInOrderByTheNext) {
    {
        EventLogWriter writer(dir_);
        ASSERT_FALSE(writer.failed()) << writer.error();
        for (int i = 0; i < 5; ++i)
            ASSERT_TRUE(writer.Append(Event(i)));
    }
    EXPECT_EQ(fs::status(dir_).permissions() & fs::perms::all, fs::perms::owner_all);
    {
        EventLogWriter writer(dir_);  // the next run appends to the same file
        ASSERT_TRUE(writer.Append(Event(5)));
    }
    const std::vector<EventEntry> back = ReadEventHistory(dir_, 100);
    ASSERT_EQ(back.size(), 6u);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(back[size_t(i)], Event(i)) << i;
    const std::vector<EventEntry> newest = ReadEventHistory(dir_, 2);
    ASSERT_EQ(newest.size(), 2u);
    EXPECT_EQ(newest[0], Event(4));
    EXPECT_EQ(newest[1], Event(5));
}

TEST_F(EventLogTest, FullFilesRotateThroughTenAndTheOldestIsOverwritten) {
    const size_t line = EventLogLine(Event(0)).size() + 1;
    {
        EventLogWriter writer(dir_, 3 * line);  // three events per file
        for (int i = 0; i < 40; ++i)
            ASSERT_TRUE(writer.Append(Event(i)));
        EXPECT_EQ(writer.current(), (40 - 1) / 3 % kEventLogFiles);
    }
    EXPECT_EQ(NewestEventLog(dir_), (40 - 1) / 3 % kEventLogFiles);
    // Ten files of three: the newest 30 events survive, in order, across runs.
    std::vector<EventEntry> back = ReadEventHistory(dir_, 1000);
    ASSERT_EQ(back.size(), 30u - 2u);  // the newest file holds one, the oldest kept file three
    EXPECT_EQ(back.front(), Event(40 - 28));
    EXPECT_EQ(back.back(), Event(39));
    {
        EventLogWriter writer(dir_, 3 * line);
        for (int i = 40; i < 45; ++i)
            ASSERT_TRUE(writer.Append(Event(i)));
    }
    back = ReadEventHistory(dir_, 1000);
    EXPECT_EQ(back.back(), Event(44));
    for (size_t i = 1; i < back.size(); ++i)
        EXPECT_LT(back[i - 1].time, back[i].time);
}

TEST_F(EventLogTest, DamagedLinesAreSkippedAndAnUnusableDirectoryOnlyStopsWriting) {
    {
        EventLogWriter writer(dir_);
        ASSERT_TRUE(writer.Append(Event(1)));
    }
    {
        std::ofstream file(EventLogPath(dir_, 0), std::ios::app | std::ios::binary);
        file << "garbage without tabs\n"
             << "12\t9\tsource\tmessage\n"         // no such level
             << "x12\t1\tsource\tmessage\n"        // not a time
             << "99999999999999999999\t1\ts\tm\n"  // a time beyond 64 bits
             << "12\t1\tsource\tbad \\q escape\n"  // unknown escape
             << std::string("\0\xff\xfe", 3) << "\n"
             << EventLogLine(Event(2)) << "\n"
             << "1700000003\t1\ttruncated";  // cut off mid-line
    }
    const std::vector<EventEntry> back = ReadEventHistory(dir_, 100);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0], Event(1));
    EXPECT_EQ(back[1], Event(2));

    // A file where the directory should be: the writer fails once and says why.
    fs::create_directories(root_ / "blocked");
    std::ofstream(root_ / "blocked" / "Halvorin") << "not a directory";
    EventLogWriter blocked((root_ / "blocked" / "Halvorin").string());
    EXPECT_TRUE(blocked.failed());
    EXPECT_FALSE(blocked.error().empty());
    EXPECT_FALSE(blocked.Append(Event(3)));
    EXPECT_TRUE(ReadEventHistory((root_ / "nowhere").string(), 10).empty());
}

// The files are ordered by the sequence number in their first line, not by
// their times: equal times (a restored backup, a coarse file system) must
// neither scramble the history nor make the writer empty a newer file.
TEST_F(EventLogTest, FilesAreOrderedBySequenceNotByTime) {
    const size_t line = EventLogLine(Event(0)).size() + 1;
    {
        EventLogWriter writer(dir_, 3 * line);
        for (int i = 0; i < 40; ++i)
            ASSERT_TRUE(writer.Append(Event(i)));
    }
    for (int n = 0; n < kEventLogFiles; ++n) {
        const struct timespec same[2] = {{1'700'000'000, 0}, {1'700'000'000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, EventLogPath(dir_, n).c_str(), same, 0), 0);
    }
    std::vector<EventEntry> back = ReadEventHistory(dir_, 1000);
    ASSERT_FALSE(back.empty());
    EXPECT_EQ(back.back(), Event(39));
    for (size_t i = 1; i < back.size(); ++i)
        EXPECT_LT(back[i - 1].time, back[i].time) << i;
    {
        EventLogWriter writer(dir_, 3 * line);  // goes on in the newest file
        EXPECT_EQ(writer.current(), (40 - 1) / 3 % kEventLogFiles);
        ASSERT_TRUE(writer.Append(Event(40)));
    }
    back = ReadEventHistory(dir_, 1000);
    EXPECT_EQ(back.back(), Event(40));
    EXPECT_EQ(back[back.size() - 2], Event(39));
}

// A full disk (here: the file size limit) loses the events written while it
// lasts, never a half line, and writing resumes by itself once there is room.
TEST_F(EventLogTest, WritingResumesAfterTheDiskWasFull) {
    EventLogWriter writer(dir_);
    ASSERT_TRUE(writer.Append(Event(1)));
    const off_t used = fs::file_size(EventLogPath(dir_, writer.current()));
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit full = saved;
    full.rlim_cur = rlim_t(used) + 10;  // room for a part of the next line only
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);
    EXPECT_FALSE(writer.Append(Event(2)));
    EXPECT_TRUE(writer.failed());
    EXPECT_NE(writer.error().find("too large"), std::string::npos) << writer.error();
    EXPECT_FALSE(writer.Append(Event(3)));
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);
    std::signal(SIGXFSZ, previous);
    EXPECT_TRUE(writer.Append(Event(4)));
    EXPECT_FALSE(writer.failed());
    EXPECT_TRUE(writer.error().empty());
    const std::vector<EventEntry> back = ReadEventHistory(dir_, 100);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0], Event(1));
    EXPECT_EQ(back[1], Event(4));
}

// A log file that can never be written (a link, a folder in its place) is
// renamed aside with whatever it holds, and the history goes on beside it.
TEST_F(EventLogTest, AnUnusableLogFileIsSetAsideNotTheHistory) {
    fs::create_directories(dir_);
    fs::create_symlink("/dev/full", EventLogPath(dir_, 0));
    {
        EventLogWriter writer(dir_);
        EXPECT_FALSE(writer.failed()) << writer.error();
        ASSERT_TRUE(writer.Append(Event(1)));
    }
    fs::remove(EventLogPath(dir_, 0));
    fs::create_directories(EventLogPath(dir_, 0));
    std::ofstream(EventLogPath(dir_, 0) + "/keep") << "someone's file";
    {
        EventLogWriter writer(dir_);
        ASSERT_TRUE(writer.Append(Event(2)));
    }
    EXPECT_EQ(ReadEventHistory(dir_, 100), std::vector<EventEntry>{Event(2)});
    int set_aside = 0;
    for (const auto& entry : fs::directory_iterator(dir_)) {
        if (entry.path().filename().string().starts_with("halvorin.log0.unusable-")) ++set_aside;
    }
    EXPECT_GE(set_aside, 1);
}

TEST(EventStateDirectory, FollowsXdgStateHomeThenHome) {
    const char* saved_state = std::getenv("XDG_STATE_HOME");
    const char* saved_home = std::getenv("HOME");
    const std::string state = saved_state ? saved_state : "";
    const std::string home = saved_home ? saved_home : "";
    ::setenv("XDG_STATE_HOME", "/x/state", 1);
    EXPECT_EQ(EventStateDirectory(), "/x/state/Halvorin");
    ::setenv("XDG_STATE_HOME", "relative", 1);  // not absolute: ignored
    ::setenv("HOME", "/home/op", 1);
    EXPECT_EQ(EventStateDirectory(), "/home/op/.local/state/Halvorin");
    ::unsetenv("XDG_STATE_HOME");
    ::unsetenv("HOME");
    EXPECT_EQ(EventStateDirectory(), "");
    if (saved_state) ::setenv("XDG_STATE_HOME", state.c_str(), 1);
    if (saved_home) ::setenv("HOME", home.c_str(), 1);
}

}  // namespace
}  // namespace halvorin
