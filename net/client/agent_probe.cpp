#include "net/client/agent_probe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <vector>

#include "base/unique_fd.h"
#include "net/protocol/wire_format.h"

namespace halvorin {

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? int(left.count()) : 0;
}

bool WaitFor(int fd, short events, Clock::time_point deadline) {
    pollfd p{fd, events, 0};
    while (true) {
        const int ready = ::poll(&p, 1, MillisecondsLeft(deadline));
        if (ready > 0) return (p.revents & events) != 0;
        if (ready == 0 || errno != EINTR) return false;
    }
}

bool Connect(int fd, uint16_t port, Clock::time_point deadline) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return true;
    if (errno != EINPROGRESS || !WaitFor(fd, POLLOUT, deadline)) return false;
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

}  // namespace

AgentProbe ProbeLocalAgent(uint16_t port, const std::u16string& computer_name,
                           std::chrono::milliseconds patience) {
    const auto deadline = Clock::now() + patience;
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid() || !Connect(fd.get(), port, deadline)) return AgentProbe::kNothing;
    MSG_HDR hello;
    hello.type = MSG_HELLO;
    hello.request = 1;
    hello.length = kHelloInfoSize;
    const auto payload = EncodeHello(HELLO_INFO{1, computer_name});
    const std::vector<uint8_t> message = BuildMessage(hello, payload);
    size_t sent = 0;
    while (sent < message.size()) {
        if (!WaitFor(fd.get(), POLLOUT, deadline)) return AgentProbe::kOther;
        const ssize_t n =
            ::send(fd.get(), message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EINTR) return AgentProbe::kOther;
        if (n > 0) sent += size_t(n);
    }
    std::array<uint8_t, kHeaderSize> header{};
    size_t got = 0;
    while (got < header.size()) {
        if (!WaitFor(fd.get(), POLLIN, deadline)) return AgentProbe::kOther;
        const ssize_t n = ::recv(fd.get(), header.data() + got, header.size() - got, 0);
        if (n == 0) return AgentProbe::kOther;
        if (n < 0 && errno != EAGAIN && errno != EINTR) return AgentProbe::kOther;
        if (n > 0) got += size_t(n);
    }
    const MSG_HDR answer = DecodeHeader(header);
    return IsUsableHeader(answer) && answer.type == MSG_HELLO && answer.request == 0
               ? AgentProbe::kAgent
               : AgentProbe::kOther;
}

}  // namespace halvorin
