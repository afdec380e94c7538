// A scripted agent for client tests: accepts connections on a loopback port,
// cuts what arrives into messages and hands each to the test's handler, which
// may answer, hold the answer, send garbage or close the connection.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "base/unique_fd.h"
#include "base/wakeup.h"
#include "net/protocol/frame_assembler.h"

namespace halvorin::test {

class FakeAgent {
  public:
    using Handler = std::function<void(FakeAgent&, int connection, const WireMessage&)>;

    // Listens on 127.0.0.1, or on ::1 when `family` is AF_INET6.
    explicit FakeAgent(Handler handler, uint16_t port = 0, int family = AF_INET)
        : handler_(std::move(handler)) {
        listener_.reset(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const int on = 1;
        ::setsockopt(listener_.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_storage address{};
        socklen_t length;
        if (family == AF_INET6) {
            auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
            v6->sin6_family = AF_INET6;
            v6->sin6_addr = in6addr_loopback;
            v6->sin6_port = htons(port);
            length = sizeof *v6;
        } else {
            auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
            v4->sin_family = AF_INET;
            v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            v4->sin_port = htons(port);
            length = sizeof *v4;
        }
        ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), length);
        ::listen(listener_.get(), 8);
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                         : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~FakeAgent() {
        stop_ = true;
        wakeup_.Signal();
        thread_.join();
    }

    uint16_t port() const { return port_; }
    int connections() const { return accepted_.load(); }
    int messages() const { return messages_.load(); }

    void Send(int connection, const std::vector<uint8_t>& bytes) {
        std::lock_guard lock(mutex_);
        auto it = sockets_.find(connection);
        if (it == sockets_.end()) return;
        size_t sent = 0;
        while (sent < bytes.size()) {
            ssize_t n =
                ::send(it->second.fd.get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return;
            sent += static_cast<size_t>(n);
        }
    }
    void Reply(int connection, const MSG_HDR& request, int32_t status,
               const std::vector<uint8_t>& payload = {}) {
        MSG_HDR reply;
        reply.tag = request.tag;
        reply.type = request.type;
        reply.status = status;
        Send(connection, BuildMessage(reply, payload));
    }
    void AcceptHello(int connection, const MSG_HDR& request) {
        auto hello = EncodeHello(HELLO_INFO{0x20, u"FAKE-AGENT"});
        Reply(connection, request, 0, std::vector<uint8_t>(hello.begin(), hello.end()));
    }
    void Close(int connection) {
        std::lock_guard lock(mutex_);
        sockets_.erase(connection);
    }
    // Stops reading from a connection (so the peer's sends back up), or resumes.
    void SetReading(bool reading) { reading_ = reading; }

  private:
    struct Connection {
        UniqueFd fd;
        FrameAssembler assembler;
    };

    void Run() {
        while (!stop_) {
            std::vector<pollfd> fds = {{wakeup_.fd(), POLLIN, 0}, {listener_.get(), POLLIN, 0}};
            std::vector<int> ids;
            {
                std::lock_guard lock(mutex_);
                for (auto& [id, c] : sockets_) {
                    fds.push_back({c.fd.get(), static_cast<short>(reading_ ? POLLIN : 0), 0});
                    ids.push_back(id);
                }
            }
            ::poll(fds.data(), fds.size(), 50);
            if (fds[0].revents) wakeup_.Drain();
            if (fds[1].revents & POLLIN) {
                UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
                if (client.valid()) {
                    std::lock_guard lock(mutex_);
                    const int id = ++accepted_;
                    sockets_[id].fd = std::move(client);
                }
            }
            for (size_t i = 0; i < ids.size(); ++i) {
                if (fds[i + 2].revents) ReadFrom(ids[i]);
            }
        }
    }

    void ReadFrom(int id) {
        std::vector<WireMessage> arrived;
        {
            std::lock_guard lock(mutex_);
            auto it = sockets_.find(id);
            if (it == sockets_.end()) return;
            auto area = it->second.assembler.FreeArea(4096);
            ssize_t n = ::recv(it->second.fd.get(), area.data(), area.size(), MSG_DONTWAIT);
            if (n <= 0) {
                sockets_.erase(it);
                return;
            }
            it->second.assembler.Commit(static_cast<size_t>(n));
            WireMessage m;
            while (it->second.assembler.Next(m) == FrameAssembler::Status::kMessage)
                arrived.push_back(m);
        }
        for (const WireMessage& m : arrived) {
            ++messages_;
            handler_(*this, id, m);
        }
    }

    Handler handler_;
    UniqueFd listener_;
    uint16_t port_ = 0;
    Wakeup wakeup_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> reading_{true};
    std::atomic<int> accepted_{0};
    std::atomic<int> messages_{0};
    std::mutex mutex_;
    std::map<int, Connection> sockets_;
};

// Polls a condition in real time; true once it holds.
template <typename Predicate>
bool Eventually(Predicate predicate, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (predicate()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return predicate();
}

}  // namespace halvorin::test
