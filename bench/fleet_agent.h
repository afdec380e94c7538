// Thousands of agents in one thread, for benchmarks of large fleets: one
// listener on every loopback address that accepts the hello and reports no
// device, and keeps each connection.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>

#include <atomic>
#include <map>
#include <thread>

#include "base/unique_fd.h"
#include "net/protocol/frame_assembler.h"

namespace halvorin::bench {

class FleetAgent {
  public:
    FleetAgent() {
        listener_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        const int on = 1;
        ::setsockopt(listener_.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_.get(), 4096);
        socklen_t length = sizeof address;
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        epoll_.reset(::epoll_create1(EPOLL_CLOEXEC));
        epoll_event event{EPOLLIN, {.fd = listener_.get()}};
        ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, listener_.get(), &event);
        thread_ = std::thread([this] { Run(); });
    }
    ~FleetAgent() {
        stop_ = true;
        thread_.join();
    }
    uint16_t port() const { return port_; }

  private:
    void Run() {
        epoll_event events[256];
        while (!stop_) {
            const int n = ::epoll_wait(epoll_.get(), events, 256, 100);
            for (int i = 0; i < n; ++i) {
                const int fd = events[i].data.fd;
                if (fd == listener_.get()) {
                    Accept();
                } else {
                    Serve(fd);
                }
            }
        }
    }
    void Accept() {
        while (true) {
            const int fd =
                ::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) return;
            connections_[fd].fd.reset(fd);
            epoll_event event{EPOLLIN, {.fd = fd}};
            ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &event);
        }
    }
    void Serve(int fd) {
        Connection& c = connections_[fd];
        auto area = c.assembler.FreeArea(4096);
        const ssize_t n = ::recv(fd, area.data(), area.size(), 0);
        if (n <= 0) {
            connections_.erase(fd);  // closes it, which takes it out of the set
            return;
        }
        c.assembler.Commit(size_t(n));
        WireMessage message;
        while (c.assembler.Next(message) == FrameAssembler::Status::kMessage) {
            MSG_HDR reply = message.header;
            reply.request = 0;
            reply.status = 0;
            std::vector<uint8_t> payload;
            if (message.header.type == MSG_HELLO) {
                const auto hello = EncodeHello(HELLO_INFO{1, u"FLEET"});
                payload.assign(hello.begin(), hello.end());
            }
            reply.length = uint32_t(payload.size());
            const auto bytes = BuildMessage(reply, payload);
            ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        }
    }

    struct Connection {
        UniqueFd fd;
        FrameAssembler assembler;
    };
    UniqueFd listener_, epoll_;
    uint16_t port_ = 0;
    std::map<int, Connection> connections_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Binds a socket to a free port of 127.0.0.1; that port.
inline uint16_t BindLoopback(int fd) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// A loopback port nobody listens on: every connect to it is refused.
inline uint16_t RefusedPort() {
    UniqueFd probe(::socket(AF_INET, SOCK_STREAM, 0));
    return BindLoopback(probe.get());
}

// Host i of a fleet: even ones reach `agent_port`, odd ones are refused.
inline std::string FleetHost(size_t i, uint16_t agent_port, uint16_t refused_port) {
    return "127.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1) + ":" +
           std::to_string(i % 2 == 0 ? agent_port : refused_port);
}

}  // namespace halvorin::bench
