#include "apps/halvorinctl/metrics_http.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <charconv>

#include "net/protocol/listen_address.h"

namespace halvorin::ctl {

namespace {

constexpr uint16_t kDefaultPort = 9611;
constexpr auto kDrainTime = std::chrono::seconds(2);  // for the client to close after the answer

// ":PORT" or "PORT": the port of every address.
std::optional<uint16_t> EveryAddressPort(const std::string& listen) {
    const std::string digits = listen.starts_with(':') ? listen.substr(1) : listen;
    unsigned port = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || port > 65535)
        return std::nullopt;
    return uint16_t(port);
}

std::string Head(const char* status, const char* content_type, size_t length,
                 const char* extra = "") {
    return std::string("HTTP/1.1 ") + status + "\r\nContent-Type: " + content_type +
           "\r\nContent-Length: " + std::to_string(length) + "\r\n" + extra +
           "Connection: close\r\n\r\n";
}

}  // namespace

bool MetricsHttpServer::Listen(const std::string& listen, std::string& error) {
    const std::optional<uint16_t> every = EveryAddressPort(listen);
    const std::vector<std::string> entries =
        every ? std::vector<std::string>{"0.0.0.0:" + std::to_string(*every),
                                         "[::]:" + std::to_string(*every)}
              : std::vector<std::string>{listen};
    // Port 0 (the system picks one) is no port to connect to, so the parser
    // refuses it: parse with another and put 0 back.
    std::vector<std::string> parsed = entries;
    std::vector<bool> any_port;
    for (std::string& entry : parsed) {
        any_port.push_back(entry.ends_with(":0"));
        if (any_port.back()) entry.back() = '1';
    }
    auto addresses = ParseListenAddresses(parsed, kDefaultPort, error);
    if (!addresses) {
        error = "bad listen address '" + listen +
                "' (give ADDRESS:PORT, [IPv6]:PORT, or :PORT for every address)";
        return false;
    }
    for (size_t i = 0; i < addresses->size(); ++i)
        if (any_port[i]) SetPort((*addresses)[i], 0);
    for (const sockaddr_storage& address : *addresses) {
        UniqueFd fd = OpenListenSocket(address, 64, error);
        // A host without IPv6 serves every IPv4 address all the same.
        if (!fd.valid() && every && address.ss_family == AF_INET6 && !listeners_.empty()) continue;
        if (!fd.valid()) return false;
        listeners_.push_back(std::move(fd));
    }
    error.clear();
    return true;
}

std::vector<std::string> MetricsHttpServer::Urls() const {
    std::vector<std::string> urls;
    for (const UniqueFd& fd : listeners_) {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) == 0)
            urls.push_back("http://" + SocketAddressText(address) + "/metrics");
    }
    return urls;
}

void MetricsHttpServer::AddPollFds(std::vector<pollfd>& fds) {
    for (const UniqueFd& fd : listeners_)
        fds.push_back({fd.get(), POLLIN, 0});
    for (const Connection& c : connections_) {
        const bool sending = c.answered() && !c.done;
        fds.push_back({c.fd.get(), short(sending ? POLLOUT : POLLIN), 0});
    }
}

void MetricsHttpServer::Serve(std::span<const pollfd> fds) {
    const auto now = Clock::now();
    std::shared_ptr<const std::string> round;  // one exposition for the requests of this round
    const size_t polled = fds.size() > listeners_.size() ? fds.size() - listeners_.size() : 0;
    std::deque<Connection> kept;
    for (size_t k = 0; k < connections_.size(); ++k) {
        Connection& c = connections_[k];
        const short revents = k < polled ? fds[listeners_.size() + k].revents : 0;
        bool keep = now < c.deadline;
        if (keep && revents != 0) {
            if (revents & POLLOUT)
                keep = Write(c);
            else
                keep = Read(c, round);
        }
        if (keep) kept.push_back(std::move(c));
    }
    connections_ = std::move(kept);
    for (size_t l = 0; l < listeners_.size() && l < fds.size(); ++l)
        if (fds[l].revents & POLLIN) Accept(listeners_[l].get(), now);
}

void MetricsHttpServer::Accept(int listener, Clock::time_point now) {
    while (true) {
        UniqueFd fd(::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd.valid()) return;  // EAGAIN, or a connection that went before it was taken
        if (connections_.size() >= kMaxConnections) {
            // Room for the newcomer: the oldest still sending its request goes
            // first (a slow or idle client), else the oldest of all.
            auto oldest = std::find_if(connections_.begin(), connections_.end(),
                                       [](const Connection& c) { return !c.answered(); });
            connections_.erase(oldest != connections_.end() ? oldest : connections_.begin());
        }
        connections_.push_back(Connection{std::move(fd), now + kRequestTime});
    }
}

bool MetricsHttpServer::Read(Connection& c, std::shared_ptr<const std::string>& round) {
    char buffer[4096];
    while (true) {
        const ssize_t n = ::recv(c.fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0) return false;  // closed (after the answer: the client is done)
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        if (c.answered()) continue;  // whatever follows the request is not read
        c.request.append(buffer, size_t(n));
        if (c.request.find("\r\n\r\n") != std::string::npos ||
            c.request.find("\n\n") != std::string::npos || c.request.size() > kMaxRequestBytes) {
            Answer(c, round);
            return Write(c);
        }
    }
}

void MetricsHttpServer::Answer(Connection& c, std::shared_ptr<const std::string>& round) {
    static const auto kEmpty = std::make_shared<const std::string>();
    c.deadline = Clock::now() + kResponseTime;
    if (c.request.size() > kMaxRequestBytes) {
        c.head = Head("431 Request Header Fields Too Large", "text/plain", 0);
        c.body = kEmpty;
        return;
    }
    const std::string line = c.request.substr(0, c.request.find_first_of("\r\n"));
    const size_t space = line.find(' ');
    const std::string method = line.substr(0, space);
    const size_t target_end = line.find(' ', space + 1);
    const std::string target =
        space == std::string::npos ? "" : line.substr(space + 1, target_end - space - 1);
    const std::string path = target.substr(0, target.find('?'));
    if (method != "GET" && method != "HEAD") {
        c.head = Head("405 Method Not Allowed", "text/plain", 0, "Allow: GET, HEAD\r\n");
        c.body = kEmpty;
        return;
    }
    std::shared_ptr<const std::string> body;
    const char* type = "text/plain; charset=utf-8";
    const char* status = "200 OK";
    if (path == "/metrics") {
        if (!round) round = std::make_shared<const std::string>(exposition_());
        body = round;
        type = "text/plain; version=0.0.4; charset=utf-8";
    } else if (path == "/") {
        body =
            std::make_shared<const std::string>("Halvorin exporter: the metrics are at /metrics\n");
    } else {
        status = "404 Not Found";
        body = std::make_shared<const std::string>("Not found: the metrics are at /metrics\n");
    }
    c.head = Head(status, type, body->size());
    c.body = method == "HEAD" ? kEmpty : body;
}

bool MetricsHttpServer::Write(Connection& c) {
    if (c.done) return true;
    const size_t total = c.head.size() + c.body->size();
    while (c.sent < total) {
        const bool in_head = c.sent < c.head.size();
        const char* data =
            in_head ? c.head.data() + c.sent : c.body->data() + (c.sent - c.head.size());
        const size_t left = in_head ? c.head.size() - c.sent : total - c.sent;
        const ssize_t n = ::send(c.fd.get(), data, left, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        c.sent += size_t(n);
    }
    // All sent: the client closes when it has read it. Closing first, with
    // bytes of its own still unread here, could reset the connection before
    // the answer arrives.
    ::shutdown(c.fd.get(), SHUT_WR);
    c.done = true;
    c.body.reset();
    c.deadline = std::min(c.deadline, Clock::now() + kDrainTime);
    return true;
}

}  // namespace halvorin::ctl
