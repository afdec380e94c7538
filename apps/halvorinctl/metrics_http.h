// The HTTP side of `halvorinctl metrics`, served by the polling thread
// between its steps: non-blocking sockets and no thread of its own, so a
// client that sends its request a byte at a time, or never reads the
// answer, holds a socket and nothing else. One GET (or HEAD) per
// connection, answered with "Connection: close".
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "apps/halvorinctl/manager_session.h"
#include "base/unique_fd.h"

namespace halvorin::ctl {

class MetricsHttpServer : public StepCompanion {
  public:
    using Clock = std::chrono::steady_clock;
    using Exposition = std::function<std::string()>;

    static constexpr size_t kMaxConnections = 128;
    static constexpr size_t kMaxRequestBytes = 8192;
    static constexpr auto kRequestTime = std::chrono::seconds(5);    // to send the request
    static constexpr auto kResponseTime = std::chrono::seconds(60);  // to read the answer

    // `exposition` is called on this thread once per round of requests.
    explicit MetricsHttpServer(Exposition exposition) : exposition_(std::move(exposition)) {}

    // "ADDRESS:PORT", "[V6]:PORT", or ":PORT" and "PORT" for every IPv4 and
    // IPv6 address. False, with the reason, when it cannot be listened on.
    bool Listen(const std::string& listen, std::string& error);
    // Where it listens, as URLs of the metrics page (the port the system
    // chose for port 0).
    std::vector<std::string> Urls() const;

    void AddPollFds(std::vector<pollfd>& fds) override;
    void Serve(std::span<const pollfd> fds) override;

  private:
    struct Connection {
        UniqueFd fd;
        Clock::time_point deadline;
        std::string request;
        std::string head;                         // status line and headers, once answered
        std::shared_ptr<const std::string> body;  // shared by the answers of one round
        size_t sent = 0;                          // of head, then body
        bool done = false;                        // all sent; waiting for the client to close
        bool answered() const { return !head.empty(); }
    };
    void Accept(int listener, Clock::time_point now);
    // False once the connection is done with.
    bool Read(Connection& c, std::shared_ptr<const std::string>& round_exposition);
    bool Write(Connection& c);
    void Answer(Connection& c, std::shared_ptr<const std::string>& round_exposition);

    Exposition exposition_;
    std::vector<UniqueFd> listeners_;
    std::deque<Connection> connections_;
};

}  // namespace halvorin::ctl
