#include "net/agent/agent_server.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "base/host_name.h"
#include "base/log.h"
#include "base/result_code.h"
#include "base/utf16.h"

namespace halvorin {

namespace {

constexpr int kListenBacklog = 1;

AgentOptions WithDefaults(AgentOptions options) {
    if (options.computer_name.empty()) options.computer_name = FullComputerName();
    if (options.own_names.empty()) {
        options.own_names = {FullComputerName(), ManagerComputerName()};
    }
    return options;
}

int WaitMs(std::chrono::milliseconds interval) {
    return static_cast<int>(interval.count());
}

}  // namespace

AgentServer::AgentServer(ScsiTransport& transport, AgentOptions options)
    : transport_(transport),
      options_(WithDefaults(std::move(options))),
      catalog_(transport, options_.rescan_interval),
      executor_(transport, catalog_),
      authorization_(options_.own_names) {}

AgentServer::~AgentServer() {
    Stop();
}

bool AgentServer::OpenListener() {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!fd.valid()) {
        start_error_ = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(options_.port);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        start_error_ = "cannot listen on TCP port " + std::to_string(options_.port) + ": " +
                       std::strerror(errno);
        return false;
    }
    if (::listen(fd.get(), kListenBacklog) != 0) {
        start_error_ = std::string("listen: ") + std::strerror(errno);
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length);
    bound_port_ = ntohs(address.sin_port);
    listener_ = std::move(fd);
    return true;
}

int AgentServer::Start() {
    if (started_) return kOk;
    start_error_.clear();
    if (!wakeup_.valid()) {
        start_error_ = "cannot create the wake-up descriptor";
        return kNoResource;
    }
    if (!OpenListener()) return kNoResource;
    try {
        sender_ = std::jthread([this](std::stop_token stop) { SenderLoop(stop); });
        receiver_ = std::jthread([this](std::stop_token stop) { ReceiverLoop(stop); });
    } catch (const std::system_error& error) {
        start_error_ = std::string("cannot start a thread: ") + error.what();
        sender_ = {};  // requests stop and joins
        listener_.reset();
        return kNoResource;
    }
    started_ = true;
    Log("agent listening on TCP port " + std::to_string(bound_port_));
    return kOk;
}

void AgentServer::Stop() {
    if (!started_) return;
    receiver_.request_stop();
    sender_.request_stop();
    wakeup_.Signal();
    queue_changed_.notify_all();
    receiver_.join();
    sender_.join();
    StopWorkers();
    {
        std::lock_guard lock(queue_mutex_);
        replies_.clear();
    }
    listener_.reset();
    started_ = false;
    Log("agent stopped");
}

int AgentServer::SetAuthorized(std::vector<std::u16string> names) {
    authorization_.SetAuthorized(std::move(names));
    return kOk;
}

void AgentServer::SetNotify(ServerNotifyFn fn, void* context) {
    authorization_.SetNotify(fn, context);
}

// ---- receiver ------------------------------------------------------------

void AgentServer::ReceiverLoop(std::stop_token stop) {
    while (!stop.stop_requested()) {
        ReapWorkers();
        if (!listener_.valid() && !OpenListener()) {
            // Try again each round until the port can be bound again.
            pollfd wake{wakeup_.fd(), POLLIN, 0};
            ::poll(&wake, 1, WaitMs(options_.wait_interval));
            wakeup_.Drain();
            continue;
        }
        if (!connection_) {
            AcceptOne();
        } else {
            ServeConnectionOnce(stop);
        }
    }
    if (connection_) DropConnection("agent stopping");
}

void AgentServer::AcceptOne() {
    pollfd fds[2] = {{listener_.get(), POLLIN, 0}, {wakeup_.fd(), POLLIN, 0}};
    const int ready = ::poll(fds, 2, WaitMs(options_.wait_interval));
    if (ready < 0 && errno != EINTR) {
        listener_.reset();
        return;
    }
    if (fds[1].revents) wakeup_.Drain();
    if (fds[0].revents & (POLLERR | POLLNVAL)) {
        listener_.reset();  // re-created next round
        return;
    }
    if (!(fds[0].revents & POLLIN)) return;

    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    UniqueFd client(
        ::accept4(listener_.get(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC));
    if (!client.valid()) return;
    connection_ = std::make_shared<AgentConnection>(std::move(client), next_connection_id_++, peer,
                                                    IsLocalPeer(peer));
    assembler_.Clear();
    idle_waits_ = 0;
    accepted_at_ = std::chrono::steady_clock::now();
    authorization_.ConnectionAccepted(connection_);
    Log("connection from " + connection_->PeerText());
}

bool AgentServer::HelloOverdue() const {
    const auto deadline = options_.wait_interval * options_.waits_for_hello;
    // A refused connection is already on its way out, on its own schedule.
    return !connection_->authorized && !connection_->refused &&
           std::chrono::steady_clock::now() - accepted_at_ >= deadline;
}

void AgentServer::ServeConnectionOnce(std::stop_token stop) {
    pollfd fds[2] = {{connection_->fd(), POLLIN, 0}, {wakeup_.fd(), POLLIN, 0}};
    const int ready = ::poll(fds, 2, WaitMs(options_.wait_interval));
    if (fds[1].revents) wakeup_.Drain();
    if (stop.stop_requested()) return;
    if (ready < 0 && errno != EINTR) {
        DropConnection("wait failed");
        return;
    }
    if (HelloOverdue()) {
        DropConnection("no authorised hello in time");
        return;
    }
    if (ready == 0) {
        if (!assembler_.Empty() && ++idle_waits_ >= options_.idle_waits_before_drop) {
            DropConnection("message stalled");
        }
        return;
    }
    if (!(fds[0].revents & (POLLIN | POLLERR | POLLHUP))) return;

    // Never read past the message under way: its length decides what comes next.
    std::span<uint8_t> area = assembler_.FreeArea(assembler_.MissingForCurrent());
    const ssize_t received = ::recv(connection_->fd(), area.data(), area.size(), MSG_DONTWAIT);
    if (received < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (received <= 0) {
        DropConnection(received == 0 ? "closed by peer"
                                     : std::string("receive failed: ") + std::strerror(errno));
        return;
    }
    assembler_.Commit(static_cast<size_t>(received));

    WireMessage message;
    switch (assembler_.Next(message)) {
        case FrameAssembler::Status::kNeedMore:
            return;
        case FrameAssembler::Status::kBroken:
            DropConnection("bad message header");
            return;
        case FrameAssembler::Status::kMessage: {
            idle_waits_ = 0;
            std::shared_ptr<AgentConnection> current = connection_;
            Dispatch(current, std::move(message));
            return;
        }
    }
}

void AgentServer::DropConnection(const std::string& reason) {
    std::shared_ptr<AgentConnection> connection = std::move(connection_);
    connection->MarkDropped();
    connection->Shutdown();
    authorization_.ConnectionDropped(*connection);
    assembler_.Clear();
    Log("dropped connection from " + connection->PeerText() + " (" + reason + ")");
}

void AgentServer::Dispatch(const std::shared_ptr<AgentConnection>& connection,
                           WireMessage message) {
    if (message.header.request == 0 || connection->refused) return;
    switch (message.header.type) {
        case MSG_HELLO:
            HandleHello(connection, message);
            return;
        case MSG_ENUM_DEVICES:
        case MSG_SCSI_IN:
        case MSG_SCSI_OUT:
            if (!connection->authorized) {
                Refuse(connection, message.header, "request before an authorised hello");
            } else {
                StartRequest(connection, std::move(message));
            }
            return;
        default:
            return;  // unknown types get no reply
    }
}

void AgentServer::HandleHello(const std::shared_ptr<AgentConnection>& connection,
                              const WireMessage& hello) {
    auto info = DecodeHello(hello.payload);
    if (!info) {
        Refuse(connection, hello.header, "short hello");
        return;
    }
    const std::string name = Utf16ToUtf8(info->computer_name);
    if (!authorization_.Authorize(info->computer_name, connection)) {
        Refuse(connection, hello.header, "hello from unauthorised name \"" + name + "\"");
        return;
    }
    connection->authorized = true;
    Log("authorised " + name + " at " + connection->PeerText());
    auto payload = EncodeHello(HELLO_INFO{1, options_.computer_name});
    ++connection->in_flight;
    QueueReply(connection, BuildReply(hello.header, static_cast<int32_t>(payload.size()), payload));
}

void AgentServer::Refuse(const std::shared_ptr<AgentConnection>& connection, const MSG_HDR& request,
                         const std::string& why) {
    Log("refused " + connection->PeerText() + ": " + why);
    connection->refused = true;
    ++connection->in_flight;
    QueueReply(connection, BuildReply(request, kHelloRefused, {}));
    // Give the refusal a moment to reach the manager, then end this connection
    // (never a later one: the worker holds this connection only).
    const auto delay = options_.refusal_delay;
    StartWorker([connection, delay](std::stop_token stop) {
        std::mutex mutex;
        std::condition_variable_any never;
        std::unique_lock lock(mutex);
        never.wait_for(lock, stop, delay, [] { return false; });
        connection->Shutdown();
    });
}

void AgentServer::StartRequest(const std::shared_ptr<AgentConnection>& connection,
                               WireMessage message) {
    const size_t pending = connection->in_flight.load();
    if (pending >= 2 * options_.max_in_flight) {
        // The peer keeps sending without reading its replies.
        DropConnection("too many requests outstanding");
        return;
    }
    ++connection->in_flight;
    if (pending >= options_.max_in_flight) {
        QueueReply(connection, BuildReply(message.header, kNoResource, {}));
        return;
    }
    auto request = std::make_shared<WireMessage>(std::move(message));
    const bool started = StartWorker([this, connection, request](std::stop_token stop) {
        std::optional<AgentReply> reply = executor_.Execute(*request, stop);
        if (reply) {
            QueueReply(connection, BuildReply(request->header, reply->result, reply->payload));
        } else {
            --connection->in_flight;
        }
    });
    if (!started) --connection->in_flight;
}

void AgentServer::QueueReply(const std::shared_ptr<AgentConnection>& connection,
                             std::vector<uint8_t> message) {
    if (connection->IsDropped()) {
        --connection->in_flight;  // its manager is gone; never send it to the next one
        return;
    }
    {
        std::lock_guard lock(queue_mutex_);
        replies_.push_back({connection, std::move(message)});
    }
    queue_changed_.notify_one();
}

// ---- sender --------------------------------------------------------------

void AgentServer::SenderLoop(std::stop_token stop) {
    while (!stop.stop_requested()) {
        QueuedReply reply;
        {
            std::unique_lock lock(queue_mutex_);
            queue_changed_.wait_for(lock, stop, options_.wait_interval,
                                    [this] { return !replies_.empty(); });
            if (replies_.empty()) continue;
            reply = std::move(replies_.front());
            replies_.pop_front();
        }
        AgentConnection& connection = *reply.connection;
        if (!connection.IsDropped() && !connection.IsShutDown() &&
            !SendAll(connection, reply.message, stop)) {
            connection.Shutdown();  // the receiver sees it and drops the connection
        }
        --connection.in_flight;
    }
}

bool AgentServer::SendAll(const AgentConnection& connection, const std::vector<uint8_t>& message,
                          std::stop_token stop) {
    size_t sent = 0;
    int stalled_waits = 0;
    while (sent < message.size()) {
        if (stop.stop_requested()) return false;
        pollfd out{connection.fd(), POLLOUT, 0};
        const int ready = ::poll(&out, 1, WaitMs(options_.wait_interval));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || (out.revents & (POLLERR | POLLHUP | POLLNVAL))) return false;
        if (ready == 0) {
            if (++stalled_waits >= options_.send_stall_waits) return false;
            continue;
        }
        const ssize_t n = ::send(connection.fd(), message.data() + sent, message.size() - sent,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
        stalled_waits = 0;
    }
    return true;
}

// ---- workers ---------------------------------------------------------------

bool AgentServer::StartWorker(std::function<void(std::stop_token)> job) {
    auto finished = std::make_shared<std::atomic<bool>>(false);
    try {
        std::lock_guard lock(workers_mutex_);
        workers_.push_back({std::jthread([job = std::move(job), finished](std::stop_token stop) {
                                job(stop);
                                *finished = true;
                            }),
                            finished});
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void AgentServer::ReapWorkers() {
    std::list<Worker> done;
    {
        std::lock_guard lock(workers_mutex_);
        for (auto it = workers_.begin(); it != workers_.end();) {
            auto next = std::next(it);
            if (*it->finished) done.splice(done.end(), workers_, it);
            it = next;
        }
    }
    // Joined outside the lock: jthread destruction joins.
}

void AgentServer::StopWorkers() {
    std::list<Worker> all;
    {
        std::lock_guard lock(workers_mutex_);
        all.swap(workers_);
    }
    for (Worker& worker : all)
        worker.thread.request_stop();
    all.clear();  // joins each
}

}  // namespace halvorin
