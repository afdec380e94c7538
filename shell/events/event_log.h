// The event history on disk: the events the list shows, one line each, in
// ten rotating files "halvorin.log0" ... "halvorin.log9" of bounded size in
// the per-user state directory. Each file starts with a line that holds its
// sequence number; the newest file is the one with the highest (files of
// older versions, without one, are older than every numbered file and are
// ordered by modification time). When the newest is full the next number (9
// wraps to 0) is emptied and takes over with the next sequence number.
// Reading gives the newest events back, oldest first; a damaged line is
// skipped, never fatal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "shell/events/event_record.h"

namespace halvorin {

inline constexpr int kEventLogFiles = 10;
inline constexpr size_t kEventLogFileBytes = 256 * 1024;

// "$XDG_STATE_HOME/Halvorin", else "$HOME/.local/state/Halvorin"; empty
// when neither variable names an absolute path.
std::string EventStateDirectory();

// The path of log file `number` in `directory`.
std::string EventLogPath(const std::string& directory, int number);

// The number of the newest log file, or nothing when there is none.
std::optional<int> NewestEventLog(const std::string& directory);

// One event as a line of a log file (no line end), and back.
std::string EventLogLine(const EventEntry& entry);
std::optional<EventEntry> ParseEventLogLine(const std::string& line);

// The newest `limit` events of the history, oldest first.
std::vector<EventEntry> ReadEventHistory(const std::string& directory, size_t limit);

// The first line of a log file: "#halvorin-log", a tab, its sequence number.
std::string EventLogHeader(uint64_t sequence);

class EventLogWriter {
  public:
    // Creates the directory (0700) when it is missing. Nothing here is
    // final: whatever fails (no directory, a full disk, a file that cannot
    // be opened) is tried again with the next event, so writing resumes as
    // soon as it can. A log file that can never be written (a link, a
    // directory, a file we may not write) is renamed aside, never deleted.
    explicit EventLogWriter(std::string directory, size_t file_bytes = kEventLogFileBytes);

    // True when the event is on disk. A line is written whole or not at all.
    bool Append(const EventEntry& entry);
    // The last attempt (the constructor's or an Append) failed.
    bool failed() const { return failed_; }
    // Why the last attempt failed; empty while writing works.
    const std::string& error() const { return error_; }
    int current() const { return current_; }

  private:
    bool Prepare();
    bool OpenCurrent(bool start_new);
    bool SetAside(const std::string& path);
    bool WriteLine(const std::string& line);
    bool Fail(const std::string& what);

    const std::string directory_;
    const size_t file_bytes_;
    UniqueFd file_;
    size_t size_ = 0;
    size_t header_bytes_ = 0;  // the sequence line of the current file (none in older files)
    int current_ = 0;
    uint64_t sequence_ = 0;      // the highest sequence number in the directory
    bool holds_events_ = false;  // the current file has an event: a full one rotates
    bool failed_ = false;
    std::string error_;
};

}  // namespace halvorin
