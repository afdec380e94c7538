#include "shell/events/event_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "base/utf16.h"

namespace halvorin {

namespace {

int64_t MtimeNs(const struct stat& st) {
    return int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

// Log files that exist, newest first; on equal times the lower number first.
std::vector<int> LogsNewestFirst(const std::string& directory) {
    std::vector<std::pair<int64_t, int>> found;
    for (int i = 0; i < kEventLogFiles; ++i) {
        struct stat st {};
        if (::stat(EventLogPath(directory, i).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            found.push_back({MtimeNs(st), i});
        }
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<int> order;
    for (const auto& f : found)
        order.push_back(f.second);
    return order;
}

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return {};
        switch (text[i]) {
            case '\\':
                out += '\\';
                break;
            case 't':
                out += '\t';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                return {};
        }
    }
    return out;
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == '\t') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

}  // namespace

std::string EventStateDirectory() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/') return std::string(state) + "/Halvorin";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.local/state/Halvorin";
    return {};
}

std::string EventLogPath(const std::string& directory, int number) {
    return directory + "/halvorin.log" + std::to_string(number);
}

std::optional<int> NewestEventLog(const std::string& directory) {
    const std::vector<int> order = LogsNewestFirst(directory);
    if (order.empty()) return {};
    return order.front();
}

std::string EventLogLine(const EventEntry& entry) {
    return std::to_string(entry.time) + '\t' + std::to_string(entry.level) + '\t' +
           Escape(Utf16ToUtf8(entry.source)) + '\t' + Escape(Utf16ToUtf8(entry.message));
}

std::optional<EventEntry> ParseEventLogLine(const std::string& line) {
    const std::vector<std::string> fields = SplitTabs(line);
    if (fields.size() != 4) return {};
    int64_t time = 0;
    const char* end = fields[0].data() + fields[0].size();
    const auto [stop, problem] = std::from_chars(fields[0].data(), end, time);
    if (problem != std::errc() || stop != end || time < 0) return {};
    if (fields[1] != "0" && fields[1] != "1" && fields[1] != "2") return {};
    auto source = Unescape(fields[2]);
    auto message = Unescape(fields[3]);
    if (!source || !message) return {};
    EventEntry entry;
    entry.time = time;
    entry.level = fields[1][0] - '0';
    entry.source = Utf8ToUtf16(*source);
    entry.message = Utf8ToUtf16(*message);
    return entry;
}

std::vector<EventEntry> ReadEventHistory(const std::string& directory, size_t limit) {
    // Newest file first; each file's lines are in time order. Collect
    // newest-first, then turn around.
    std::vector<EventEntry> newest_first;
    for (int number : LogsNewestFirst(directory)) {
        if (newest_first.size() >= limit) break;
        std::ifstream file(EventLogPath(directory, number), std::ios::binary);
        std::vector<EventEntry> entries;
        std::string line;
        while (std::getline(file, line)) {
            if (auto entry = ParseEventLogLine(line)) entries.push_back(std::move(*entry));
        }
        for (auto it = entries.rbegin(); it != entries.rend() && newest_first.size() < limit;
             ++it) {
            newest_first.push_back(std::move(*it));
        }
    }
    std::reverse(newest_first.begin(), newest_first.end());
    return newest_first;
}

EventLogWriter::EventLogWriter(std::string directory, size_t file_bytes)
    : directory_(std::move(directory)), file_bytes_(std::max<size_t>(file_bytes, 1)) {
    if (directory_.empty()) {
        Fail("no state directory (neither XDG_STATE_HOME nor HOME is set)");
        return;
    }
    // The parents as the user's, the directory itself private.
    for (size_t slash = directory_.find('/', 1); slash != std::string::npos;
         slash = directory_.find('/', slash + 1)) {
        ::mkdir(directory_.substr(0, slash).c_str(), 0700);
    }
    if (::mkdir(directory_.c_str(), 0700) != 0 && errno != EEXIST) {
        Fail("cannot create " + directory_ + ": " + std::strerror(errno));
        return;
    }
    current_ = NewestEventLog(directory_).value_or(0);
    struct stat st {};
    if (::stat(EventLogPath(directory_, current_).c_str(), &st) == 0) last_mtime_ns_ = MtimeNs(st);
    OpenCurrent(false);
}

void EventLogWriter::Fail(const std::string& what) {
    failed_ = true;
    error_ = what;
    file_.reset();
}

bool EventLogWriter::OpenCurrent(bool truncate) {
    const std::string path = EventLogPath(directory_, current_);
    const int flags =
        O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | (truncate ? O_TRUNC : 0);
    file_.reset(::open(path.c_str(), flags, 0600));
    if (!file_.valid()) {
        Fail("cannot open " + path + ": " + std::strerror(errno));
        return false;
    }
    struct stat st {};
    if (::fstat(file_.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        Fail(path + " is not a regular file");
        return false;
    }
    size_ = size_t(st.st_size);
    return true;
}

bool EventLogWriter::Append(const EventEntry& entry) {
    if (failed_) return false;
    const std::string line = EventLogLine(entry) + '\n';
    if (size_ > 0 && size_ + line.size() > file_bytes_) {
        current_ = (current_ + 1) % kEventLogFiles;
        if (!OpenCurrent(true)) return false;
    }
    if (::write(file_.get(), line.data(), line.size()) != ssize_t(line.size())) {
        Fail("cannot write " + EventLogPath(directory_, current_) + ": " + std::strerror(errno));
        return false;
    }
    size_ += line.size();
    // The file written last must look newest even when the clock's
    // granularity gives two files the same time.
    struct stat st {};
    if (::fstat(file_.get(), &st) == 0) {
        int64_t mtime = std::max(MtimeNs(st), last_mtime_ns_ + 1);
        const timespec times[2] = {{0, UTIME_OMIT},
                                   {time_t(mtime / 1'000'000'000), long(mtime % 1'000'000'000)}};
        if (mtime != MtimeNs(st)) ::futimens(file_.get(), times);
        last_mtime_ns_ = mtime;
    }
    return true;
}

}  // namespace halvorin
