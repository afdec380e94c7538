// The event history on disk: the events the list shows, one line each, in
// ten rotating files "halvorin.log0" ... "halvorin.log9" of bounded size in
// the per-user state directory. The newest file is the one written last
// (latest modification time); when it is full the next number (9 wraps to
// 0) is emptied and takes over. Reading gives the newest events back,
// oldest first; a damaged line is skipped, never fatal.
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

class EventLogWriter {
  public:
    // Creates the directory (0700) when it is missing. A directory that
    // cannot be used leaves the writer failed: Append then does nothing.
    explicit EventLogWriter(std::string directory, size_t file_bytes = kEventLogFileBytes);

    bool Append(const EventEntry& entry);
    bool failed() const { return failed_; }
    // Why the writer failed; empty while it works.
    const std::string& error() const { return error_; }
    int current() const { return current_; }

  private:
    bool OpenCurrent(bool truncate);
    void Fail(const std::string& what);

    const std::string directory_;
    const size_t file_bytes_;
    UniqueFd file_;
    size_t size_ = 0;
    int current_ = 0;
    int64_t last_mtime_ns_ = 0;
    bool failed_ = false;
    std::string error_;
};

}  // namespace halvorin
