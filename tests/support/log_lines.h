// Collects what the code under test logs, with the priority as a "<N>"
// prefix, for tests that check the log; the previous sink is dropped.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "base/log.h"

namespace halvorin::test {

class LogLines {
  public:
    LogLines() {
        SetLogSink([this](LogPriority priority, std::string_view line) {
            std::lock_guard lock(mutex_);
            lines_.push_back("<" + std::to_string(static_cast<int>(priority)) + ">" +
                             std::string(line));
        });
    }
    ~LogLines() { SetLogSink(nullptr); }
    LogLines(const LogLines&) = delete;
    LogLines& operator=(const LogLines&) = delete;

    std::vector<std::string> Containing(const std::string& part) {
        std::lock_guard lock(mutex_);
        std::vector<std::string> found;
        for (const std::string& line : lines_)
            if (line.find(part) != std::string::npos) found.push_back(line);
        return found;
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace halvorin::test
