#include "base/log.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

namespace halvorin {

namespace {

std::mutex& SinkMutex() {
    static std::mutex mutex;
    return mutex;
}

LogSink& Sink() {
    static LogSink sink;
    return sink;
}

}  // namespace

void SetLogSink(LogSink sink) {
    std::lock_guard lock(SinkMutex());
    Sink() = std::move(sink);
}

void Log(LogPriority priority, std::string_view line) {
    std::lock_guard lock(SinkMutex());
    if (Sink()) Sink()(priority, line);
}

void LogToStderr(LogPriority priority, std::string_view line) {
    static const bool to_journal = std::getenv("JOURNAL_STREAM") != nullptr;
    if (to_journal) {
        std::fprintf(stderr, "<%d>%.*s\n", static_cast<int>(priority),
                     static_cast<int>(line.size()), line.data());
        return;
    }
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::fprintf(stderr, "%s %.*s\n", stamp, static_cast<int>(line.size()), line.data());
}

}  // namespace halvorin
