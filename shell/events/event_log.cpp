#include "shell/events/event_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <tuple>

#include "base/utf16.h"

namespace halvorin {

namespace {

// The level field of a deletion line; older readers skip such lines.
constexpr char kDeletedLevel[] = "D";

constexpr int kNotRegular = -1;  // opened, but a device or pipe rather than a file
constexpr std::string_view kHeaderTag = "#halvorin-log\t";

int64_t MtimeNs(const struct stat& st) {
    return int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

// The sequence number in a log file's first line; nothing for a file of an
// older version, which has none.
std::optional<uint64_t> FileSequence(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string line;
    if (!std::getline(file, line) || !line.starts_with(kHeaderTag)) return {};
    const char* begin = line.data() + kHeaderTag.size();
    const char* end = line.data() + line.size();
    uint64_t sequence = 0;
    const auto [stop, problem] = std::from_chars(begin, end, sequence);
    if (problem != std::errc() || stop != end) return {};
    return sequence;
}

struct LogFile {
    int number;
    std::optional<uint64_t> sequence;
    int64_t mtime_ns;
};

// The log files that exist as regular files (a link is not one of ours).
std::vector<LogFile> LogFiles(const std::string& directory) {
    std::vector<LogFile> found;
    for (int i = 0; i < kEventLogFiles; ++i) {
        const std::string path = EventLogPath(directory, i);
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            found.push_back({i, FileSequence(path), MtimeNs(st)});
    }
    return found;
}

// Newest first: by sequence number; files without one are older than every
// numbered file and go by modification time (on equal times the lower
// number first).
std::vector<int> LogsNewestFirst(const std::string& directory) {
    std::vector<LogFile> files = LogFiles(directory);
    std::stable_sort(files.begin(), files.end(), [](const LogFile& a, const LogFile& b) {
        if (a.sequence && b.sequence) return *a.sequence > *b.sequence;
        if (a.sequence || b.sequence) return a.sequence.has_value();
        return a.mtime_ns > b.mtime_ns;
    });
    std::vector<int> order;
    for (const LogFile& f : files)
        order.push_back(f.number);
    return order;
}

// Errors after which a log file will never take a line, whatever we wait
// for: it is put aside and a new one started.
bool FileNeverUsable(int error) {
    return error == ELOOP || error == EISDIR || error == EACCES || error == EPERM ||
           error == ENXIO || error == ETXTBSY || error == kNotRegular;
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
    const std::string level =
        entry.level == kDeletedEvent ? std::string(kDeletedLevel) : std::to_string(entry.level);
    return std::to_string(entry.time) + '\t' + level + '\t' + Escape(Utf16ToUtf8(entry.source)) +
           '\t' + Escape(Utf16ToUtf8(entry.message));
}

std::optional<EventEntry> ParseEventLogLine(const std::string& line) {
    const std::vector<std::string> fields = SplitTabs(line);
    if (fields.size() != 4) return {};
    int64_t time = 0;
    const char* end = fields[0].data() + fields[0].size();
    const auto [stop, problem] = std::from_chars(fields[0].data(), end, time);
    if (problem != std::errc() || stop != end || time < 0) return {};
    const bool deletion = fields[1] == kDeletedLevel;
    if (fields[1] != "0" && fields[1] != "1" && fields[1] != "2" && !deletion) return {};
    auto source = Unescape(fields[2]);
    auto message = Unescape(fields[3]);
    if (!source || !message) return {};
    EventEntry entry;
    entry.time = time;
    entry.level = deletion ? kDeletedEvent : fields[1][0] - '0';
    entry.source = Utf8ToUtf16(*source);
    entry.message = Utf8ToUtf16(*message);
    return entry;
}

std::vector<EventEntry> ReadEventHistory(const std::string& directory, size_t limit) {
    // Newest file first; each file's lines are in time order. Collect
    // newest-first, then turn around. A deletion comes after the event it
    // deletes: met first, it takes out the next older event that matches.
    std::vector<EventEntry> newest_first;
    std::map<std::tuple<int64_t, std::u16string, std::u16string>, int> deleted;
    const auto take = [&](EventEntry&& entry) {
        const auto key = std::make_tuple(entry.time, entry.source, entry.message);
        if (entry.level == kDeletedEvent) {
            ++deleted[key];
            return;
        }
        const auto found = deleted.find(key);
        if (found != deleted.end() && found->second > 0) {
            --found->second;
            return;
        }
        newest_first.push_back(std::move(entry));
    };
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
            take(std::move(*it));
        }
    }
    std::reverse(newest_first.begin(), newest_first.end());
    return newest_first;
}

std::string EventLogHeader(uint64_t sequence) {
    return std::string(kHeaderTag) + std::to_string(sequence);
}

EventLogWriter::EventLogWriter(std::string directory, size_t file_bytes)
    : directory_(std::move(directory)), file_bytes_(std::max<size_t>(file_bytes, 1)) {
    Prepare();
}

// Makes the directory and opens the newest file (or the first one).
bool EventLogWriter::Prepare() {
    if (directory_.empty())
        return Fail("no state directory (neither XDG_STATE_HOME nor HOME is set)");
    // The parents as the user's, the directory itself private.
    for (size_t slash = directory_.find('/', 1); slash != std::string::npos;
         slash = directory_.find('/', slash + 1)) {
        ::mkdir(directory_.substr(0, slash).c_str(), 0700);
    }
    if (::mkdir(directory_.c_str(), 0700) != 0 && errno != EEXIST)
        return Fail("cannot create " + directory_ + ": " + std::strerror(errno));
    sequence_ = 0;
    for (const LogFile& file : LogFiles(directory_))
        sequence_ = std::max(sequence_, file.sequence.value_or(0));
    const std::vector<int> order = LogsNewestFirst(directory_);
    current_ = order.empty() ? 0 : order.front();
    return OpenCurrent(order.empty());
}

bool EventLogWriter::Fail(const std::string& what) {
    failed_ = true;
    error_ = what;
    file_.reset();
    return false;
}

// "halvorin.log3" becomes "halvorin.log3.unusable-<time>": whatever it was
// (a link, a directory, someone else's file) stays for its owner to look at.
bool EventLogWriter::SetAside(const std::string& path) {
    const std::string aside = path + ".unusable-" + std::to_string(::time(nullptr));
    for (int n = 0; n < 100; ++n) {
        const std::string name = n == 0 ? aside : aside + "-" + std::to_string(n);
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) == 0)
            return true;
        if (errno != EEXIST) return false;
    }
    return false;
}

bool EventLogWriter::OpenCurrent(bool start_new) {
    const std::string path = EventLogPath(directory_, current_);
    for (int attempt = 0;; ++attempt) {
        // Non-blocking: a FIFO in the file's place must not hang the program.
        const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK |
                          (start_new ? O_TRUNC : 0);
        file_.reset(::open(path.c_str(), flags, 0600));
        int error = file_.valid() ? 0 : errno;
        struct stat st {};
        if (!error && (::fstat(file_.get(), &st) != 0 || !S_ISREG(st.st_mode))) error = kNotRegular;
        if (!error) {
            size_ = size_t(st.st_size);
            const std::optional<uint64_t> sequence = size_ > 0 ? FileSequence(path) : std::nullopt;
            header_bytes_ = sequence ? EventLogHeader(*sequence).size() + 1 : 0;
            holds_events_ = size_ > header_bytes_;
            break;
        }
        file_.reset();
        if (attempt == 0 && FileNeverUsable(error) && SetAside(path)) {
            start_new = true;
            continue;
        }
        return Fail("cannot open " + path + ": " +
                    (error == kNotRegular ? std::string("not a regular file")
                                          : std::string(std::strerror(error))));
    }
    if (size_ == 0) {
        const std::string header = EventLogHeader(++sequence_) + '\n';
        header_bytes_ = header.size();
        holds_events_ = false;
        return WriteLine(header);
    }
    return true;
}

// Writes one line whole; a line cut short by a full disk is taken back, so
// that the next line does not continue it.
bool EventLogWriter::WriteLine(const std::string& line) {
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(file_.get(), line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            if (done > 0) {
                // Should this fail too, what stays is skipped as a damaged line.
                [[maybe_unused]] const int ignored = ::ftruncate(file_.get(), off_t(size_));
            }
            return Fail("cannot write " + EventLogPath(directory_, current_) + ": " +
                        std::strerror(error));
        }
        done += size_t(n);
    }
    size_ += line.size();
    failed_ = false;
    error_.clear();
    return true;
}

bool EventLogWriter::Append(const EventEntry& entry) {
    if (!file_.valid() && !Prepare()) return false;
    const std::string line = EventLogLine(entry) + '\n';
    // The first line is not counted: a file holds file_bytes_ of events.
    if (holds_events_ && size_ - header_bytes_ + line.size() > file_bytes_) {
        current_ = (current_ + 1) % kEventLogFiles;
        if (!OpenCurrent(true)) return false;
    }
    if (!WriteLine(line)) return false;
    holds_events_ = true;
    return true;
}

}  // namespace halvorin
