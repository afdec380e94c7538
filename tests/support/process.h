// Runs the project's executables from tests: a child with its output read
// through a pipe, stopped (SIGTERM, then SIGKILL) when the object goes.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace halvorin::test {

struct ChildOptions {
    std::string input = "/dev/null";  // what standard input opens (a terminal, say)
    bool with_errors = false;         // standard error read along with standard output
    std::string errors_to;            // else the file standard error goes to (default /dev/null)
};

class ChildProcess {
  public:
    explicit ChildProcess(std::vector<std::string> argv, const ChildOptions& options = {}) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, options.input.c_str(), O_RDWR, 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        if (options.with_errors)
            posix_spawn_file_actions_adddup2(&actions, out[1], 2);
        else if (!options.errors_to.empty())
            posix_spawn_file_actions_addopen(&actions, 2, options.errors_to.c_str(),
                                             O_WRONLY | O_CREAT | O_APPEND, 0600);
        else
            posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<char*> args;
        for (std::string& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        output_fd_ = out[0];
    }
    ~ChildProcess() {
        Stop();
        if (output_fd_ >= 0) ::close(output_fd_);
    }

    bool running() const { return pid_ > 0; }
    void Signal(int signal) {
        if (pid_ > 0) ::kill(pid_, signal);
    }

    // The next line of standard output, or nothing within the wait.
    std::optional<std::string> ReadLine(std::chrono::milliseconds wait) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (true) {
            const size_t newline = buffer_.find('\n');
            if (newline != std::string::npos) {
                std::string line = buffer_.substr(0, newline);
                buffer_.erase(0, newline + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || ReadSome(left) != Read::kData) return std::nullopt;
        }
    }

    // Reads output until it holds `text`; false when it did not come in time.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds wait) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (buffer_.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || ReadSome(left) == Read::kEnd) return false;
        }
        return true;
    }

    // All output until the child ends; its exit status.
    int Wait(std::string& output, std::chrono::seconds limit = std::chrono::seconds(60)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline &&
               ReadSome(std::chrono::milliseconds(100)) != Read::kEnd) {
        }
        output = buffer_;
        buffer_.clear();
        int status = 0;
        if (pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        return -1;
    }

    void Stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 50; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    enum class Read { kData, kTimeout, kEnd };
    Read ReadSome(std::chrono::milliseconds wait) {
        pollfd in{output_fd_, POLLIN, 0};
        if (::poll(&in, 1, static_cast<int>(wait.count())) <= 0) return Read::kTimeout;
        char chunk[4096];
        const ssize_t n = ::read(output_fd_, chunk, sizeof chunk);
        if (n <= 0) return Read::kEnd;
        buffer_.append(chunk, static_cast<size_t>(n));
        return Read::kData;
    }

    pid_t pid_ = -1;
    int output_fd_ = -1;
    std::string buffer_;
};

// A TCP port nobody listens on right now.
inline uint16_t FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

}  // namespace halvorin::test
