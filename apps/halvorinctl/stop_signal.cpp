#include "apps/halvorinctl/stop_signal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace halvorin::ctl {

namespace {

std::atomic<bool> g_stop{false};
std::atomic<int> g_signal{0};
int g_pipe[2] = {-1, -1};

void OnSignal(int signal) {
    const int saved_errno = errno;
    g_signal = signal;
    g_stop = true;
    if (g_pipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(g_pipe[1], &byte, 1);
    }
    errno = saved_errno;
}

}  // namespace

void CatchStopSignals() {
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) g_pipe[0] = g_pipe[1] = -1;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

const std::atomic<bool>& StopRequested() {
    return g_stop;
}

int StopSignalNumber() {
    return g_signal.load();
}

std::optional<std::string> ReadLineUnlessStopped() {
    std::string line;
    while (!g_stop) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {g_pipe[0], POLLIN, 0}};
        if (::poll(fds, g_pipe[0] >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (g_stop) break;
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        // One byte at a time: nothing after the line end is taken from the input.
        char c;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return line.empty() ? std::nullopt : std::optional(line);
        if (c == '\n') return line;
        line += c;
    }
    return std::nullopt;
}

}  // namespace halvorin::ctl
