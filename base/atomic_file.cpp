#include "base/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/unique_fd.h"

namespace halvorin {

namespace {

bool WriteAll(int fd, std::string_view content) {
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        content.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string& error) {
    std::string pattern = path + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    UniqueFd fd(::mkostemp(name.data(), O_CLOEXEC));
    if (!fd.valid()) {
        error = "cannot create a file beside " + path + ": " + std::strerror(errno);
        return false;
    }
    const std::string temporary(name.data());
    // mkstemp makes it 0600; the finished file gets what a new file gets.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd.get(), 0666 & ~mask);
    const bool written = WriteAll(fd.get(), content) && ::fsync(fd.get()) == 0;
    const int write_errno = errno;
    fd.reset();
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(written ? errno : write_errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace halvorin
