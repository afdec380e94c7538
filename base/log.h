// Diagnostic lines for operators (connections, refusals, drops, the agent's
// audit trail). Libraries write through Log(); the executable decides where
// the lines go. Without a sink nothing is written, so library users stay
// quiet by default.
#pragma once

#include <functional>
#include <string_view>

namespace halvorin {

// syslog's numbers, which the journal reads from "<N>" line prefixes.
enum class LogPriority : int { kError = 3, kWarning = 4, kNotice = 5, kInfo = 6 };

using LogSink = std::function<void(LogPriority priority, std::string_view line)>;

void SetLogSink(LogSink sink);
void Log(LogPriority priority, std::string_view line);
inline void Log(std::string_view line) {
    Log(LogPriority::kInfo, line);
}

// Writes to standard error: "YYYY-MM-DD HH:MM:SS line", or under systemd
// (JOURNAL_STREAM set) "<N>line", since the journal stamps lines itself.
void LogToStderr(LogPriority priority, std::string_view line);

}  // namespace halvorin
