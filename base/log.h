// Diagnostic lines for operators (connections, refusals, drops). Libraries
// write through Log(); the executable decides where the lines go. Without a
// sink nothing is written, so library users stay quiet by default.
#pragma once

#include <functional>
#include <string_view>

namespace halvorin {

using LogSink = std::function<void(std::string_view line)>;

void SetLogSink(LogSink sink);
void Log(std::string_view line);

// A sink that writes "YYYY-MM-DD HH:MM:SS line" to standard error.
void LogToStderr(std::string_view line);

}  // namespace halvorin
