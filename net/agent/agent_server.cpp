#include "net/agent/agent_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>

#include "base/host_name.h"
#include "base/log.h"
#include "base/result_code.h"
#include "base/utf16.h"

namespace halvorin {

namespace {

// Connections are accepted as they come and wait in our own bounded list, so
// the kernel's queue only has to cover one round of the receiver.
constexpr int kListenBacklog = 16;

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
      authorization_(options_.own_names),
      workers_(options_.max_in_flight, options_.worker_idle) {}

AgentServer::~AgentServer() {
    Stop();
    // workers_ goes before the rest of this object and joins every worker,
    // those Stop() left in the kernel included: they use this object.
}

bool AgentServer::OpenListener() {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
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
    if (!wakeup_.valid() || !backlog_changed_.valid()) {
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

size_t AgentServer::Stop() {
    if (!started_) return 0;
    receiver_.request_stop();
    sender_.request_stop();
    wakeup_.Signal();
    backlog_changed_.Signal();
    receiver_.join();
    sender_.join();
    listener_.reset();
    const size_t busy = workers_.Stop(options_.stop_grace);
    {
        std::lock_guard lock(backlog_mutex_);
        backlog_.clear();
    }
    started_ = false;
    if (busy > 0)
        Log("agent stopped; " + std::to_string(busy) + " command(s) still running in the kernel");
    else
        Log("agent stopped");
    return busy;
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
        if (!listener_.valid() && !OpenListener()) {
            // Try again each round until the port can be bound again.
            pollfd wake{wakeup_.fd(), POLLIN, 0};
            ::poll(&wake, 1, WaitMs(options_.wait_interval));
            wakeup_.Drain();
            continue;
        }
        try {
            ReceiveRound(stop);
        } catch (const std::bad_alloc&) {
            // Only the connection being read can have asked for the memory.
            if (connection_) DropConnection("out of memory");
            waiting_.clear();
        }
    }
    if (connection_) DropConnection("agent stopping");
    for (Waiting& w : waiting_)
        w.connection->Shutdown();
    waiting_.clear();
    for (Closing& c : closing_)
        c.connection->Shutdown();
    closing_.clear();
}

// Refused connections are shut down once their refusal had its moment.
void AgentServer::CloseRefused(std::chrono::steady_clock::time_point now) {
    while (!closing_.empty() && closing_.front().at <= now) {
        closing_.front().connection->Shutdown();
        closing_.pop_front();
    }
}

int AgentServer::ReceiveWaitMs(std::chrono::steady_clock::time_point now) const {
    auto wait = options_.wait_interval;
    if (!closing_.empty()) {
        const auto until = std::chrono::ceil<std::chrono::milliseconds>(closing_.front().at - now);
        wait = std::clamp(until, std::chrono::milliseconds(0), wait);
    }
    return WaitMs(wait);
}

// One wait on everything: the listener, the served manager and the
// connections that wait for their turn, each on its own deadline.
void AgentServer::ReceiveRound(std::stop_token stop) {
    PromoteWaiting();
    std::vector<pollfd> fds = {{wakeup_.fd(), POLLIN, 0}, {listener_.get(), POLLIN, 0}};
    if (connection_) fds.push_back({connection_->fd(), POLLIN, 0});
    const size_t first_waiting = fds.size();
    for (const Waiting& w : waiting_)
        fds.push_back({w.connection->fd(), static_cast<short>(w.hello ? 0 : POLLIN), 0});
    const int ready =
        ::poll(fds.data(), fds.size(), ReceiveWaitMs(std::chrono::steady_clock::now()));
    if (fds[0].revents) wakeup_.Drain();
    if (stop.stop_requested()) return;
    if (ready < 0 && errno != EINTR) {
        listener_.reset();  // re-created next round
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    CloseRefused(now);
    // Waiting connections first: accepting may push the oldest out.
    for (size_t i = waiting_.size(); i-- > 0;)
        ServeWaiting(waiting_[i], fds[first_waiting + i].revents, now);
    std::erase_if(waiting_, [](const Waiting& w) { return w.leaving; });
    if (connection_) ServeConnection(fds[2].revents);
    if (fds[1].revents & (POLLERR | POLLNVAL)) {
        listener_.reset();
    } else if (fds[1].revents & POLLIN) {
        for (size_t i = 0; i <= options_.max_waiting && AcceptOne(); ++i) {
        }
    }
}

bool AgentServer::AcceptOne() {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    UniqueFd client(
        ::accept4(listener_.get(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC));
    if (!client.valid()) return false;
    // Replies are written whole as they finish; several small ones in a row
    // must not wait for the manager's delayed acknowledgement (about 40 ms).
    const int on = 1;
    ::setsockopt(client.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (waiting_.size() >= options_.max_waiting) {
        Waiting& oldest = waiting_.front();
        Log("closed " + oldest.connection->PeerText() + " (too many connections waiting)");
        oldest.connection->MarkDropped();
        oldest.connection->Shutdown();
        waiting_.pop_front();
    }
    auto connection = std::make_shared<AgentConnection>(std::move(client), next_connection_id_++,
                                                        peer, IsLocalPeer(peer));
    const auto deadline =
        std::chrono::steady_clock::now() + options_.wait_interval * options_.waits_for_hello;
    Log("connection from " + connection->PeerText());
    waiting_.push_back({std::move(connection), FrameAssembler(), deadline, std::nullopt});
    return true;
}

// Reads what has arrived, never past the message under way (its length
// decides what comes next).
AgentServer::ReadResult AgentServer::ReadMessage(AgentConnection& connection,
                                                 FrameAssembler& assembler, WireMessage& message) {
    std::span<uint8_t> area = assembler.FreeArea(assembler.MissingForCurrent());
    const ssize_t received = ::recv(connection.fd(), area.data(), area.size(), MSG_DONTWAIT);
    if (received < 0 && (errno == EAGAIN || errno == EINTR)) return ReadResult::kNothing;
    if (received <= 0) return ReadResult::kClosed;
    assembler.Commit(static_cast<size_t>(received));
    switch (assembler.Next(message)) {
        case FrameAssembler::Status::kNeedMore:
            return ReadResult::kNothing;
        case FrameAssembler::Status::kBroken:
            return ReadResult::kBroken;
        case FrameAssembler::Status::kMessage:
            return ReadResult::kMessage;
    }
    return ReadResult::kBroken;
}

void AgentServer::ServeWaiting(Waiting& w, short revents,
                               std::chrono::steady_clock::time_point now) {
    AgentConnection& connection = *w.connection;
    auto close = [&](const std::string& why) {
        Log("closed " + connection.PeerText() + " (" + why + ")");
        connection.MarkDropped();
        connection.Shutdown();
        w.leaving = true;
    };
    // The deadline is for saying an authorised hello; a manager that has
    // said one waits for its turn (its own hello timeout may end the wait).
    if (!w.hello && now >= w.deadline) {
        close("no authorised hello in time");
        return;
    }
    if (!(revents & (POLLIN | POLLERR | POLLHUP))) return;
    WireMessage message;
    switch (ReadMessage(connection, w.assembler, message)) {
        case ReadResult::kNothing:
        case ReadResult::kData:  // not returned by ReadMessage
            return;
        case ReadResult::kClosed:
            close("closed by peer");
            return;
        case ReadResult::kBroken:
            close("bad message header");
            return;
        case ReadResult::kMessage:
            w.leaving = !OnWaitingMessage(w, std::move(message));
            return;
    }
}

// False when the connection leaves the waiting list (refused; the refusal
// closes it a moment later).
bool AgentServer::OnWaitingMessage(Waiting& w, WireMessage message) {
    if (message.header.request == 0) return true;
    if (message.header.type != MSG_HELLO) {
        Refuse(w.connection, message.header, "request before an authorised hello");
        return false;
    }
    auto info = DecodeHello(message.payload);
    if (!info) {
        Refuse(w.connection, message.header, "short hello");
        return false;
    }
    if (!authorization_.MayConnect(info->computer_name, *w.connection)) {
        Refuse(w.connection, message.header,
               "hello from unauthorised name \"" + Utf16ToUtf8(info->computer_name) + "\"");
        return false;
    }
    w.hello = std::move(message);  // served at its turn
    return true;
}

// The served manager has gone: the first authorised hello that waits is next.
void AgentServer::PromoteWaiting() {
    if (connection_) return;
    auto next = std::find_if(waiting_.begin(), waiting_.end(),
                             [](const Waiting& w) { return w.hello.has_value(); });
    if (next == waiting_.end()) return;
    Waiting w = std::move(*next);
    waiting_.erase(next);
    connection_ = w.connection;
    assembler_.Clear();
    last_progress_ = std::chrono::steady_clock::now();
    authorization_.ConnectionAccepted(connection_);
    HandleHello(connection_, *w.hello);
}

void AgentServer::ServeConnection(short revents) {
    const auto now = std::chrono::steady_clock::now();
    if (!(revents & (POLLIN | POLLERR | POLLHUP))) {
        if (!assembler_.Empty() &&
            now - last_progress_ >= options_.wait_interval * options_.idle_waits_before_drop) {
            DropConnection("message stalled");
        }
        return;
    }
    // One read takes what has arrived, often several messages.
    const ReadResult read = ReadAvailable(*connection_, assembler_);
    if (read == ReadResult::kClosed) {
        DropConnection(std::string("closed by peer or receive failed"));
        return;
    }
    last_progress_ = now;
    std::shared_ptr<AgentConnection> current = connection_;
    WireMessage message;
    while (connection_ == current) {
        const FrameAssembler::Status status = assembler_.Next(message);
        if (status == FrameAssembler::Status::kNeedMore) return;
        if (status == FrameAssembler::Status::kBroken) {
            DropConnection("bad message header");
            return;
        }
        Dispatch(current, std::move(message));
    }
}

AgentServer::ReadResult AgentServer::ReadAvailable(AgentConnection& connection,
                                                   FrameAssembler& assembler) {
    std::span<uint8_t> area = assembler.FreeArea(FrameAssembler::kCapacity);
    const ssize_t received = ::recv(connection.fd(), area.data(), area.size(), MSG_DONTWAIT);
    if (received < 0 && (errno == EAGAIN || errno == EINTR)) return ReadResult::kNothing;
    if (received <= 0) return ReadResult::kClosed;
    assembler.Commit(static_cast<size_t>(received));
    return ReadResult::kData;
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
    // (never a later one: the entry holds this connection only).
    closing_.push_back({connection, std::chrono::steady_clock::now() + options_.refusal_delay});
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
    const bool submitted = workers_.Submit([this, connection, request](std::stop_token stop) {
        std::optional<AgentReply> reply;
        try {
            reply = executor_.Execute(*request, stop);
        } catch (const std::bad_alloc&) {
            reply = AgentReply{kOutOfMemory, {}};
        }
        try {
            if (reply) {
                QueueReply(connection, BuildReply(request->header, reply->result, reply->payload));
                return;
            }
        } catch (const std::bad_alloc&) {
            // Not even the reply fits: the manager's request times out.
        }
        --connection->in_flight;
    });
    if (!submitted) --connection->in_flight;
}

void AgentServer::QueueReply(const std::shared_ptr<AgentConnection>& connection,
                             std::vector<uint8_t> message) {
    if (connection->IsDropped()) {
        --connection->in_flight;  // its manager is gone; never send it to the next one
        return;
    }
    std::unique_lock lock(connection->send_mutex);
    const bool idle = connection->unsent.empty();
    if (idle) connection->last_send_progress = std::chrono::steady_clock::now();
    connection->unsent.push_back(std::move(message));
    if (!idle) return;  // the sender thread is on it; replies keep their order
    if (!SendUnsentLocked(*connection)) {
        DiscardUnsentLocked(*connection);
        lock.unlock();
        connection->Shutdown();  // the receiver sees it and drops the connection
        return;
    }
    if (connection->unsent.empty()) return;
    lock.unlock();
    {
        std::lock_guard backlog(backlog_mutex_);
        backlog_.push_back(connection);
    }
    backlog_changed_.Signal();
}

bool AgentServer::SendUnsentLocked(AgentConnection& connection) {
    while (!connection.unsent.empty()) {
        const std::vector<uint8_t>& front = connection.unsent.front();
        // Uncounted before the send: the manager may have the reply and send
        // its next request before this thread runs again, and that request
        // must not find this reply still counted. Counted again if it stays.
        --connection.in_flight;
        const ssize_t n =
            ::send(connection.fd(), front.data() + connection.unsent_offset,
                   front.size() - connection.unsent_offset, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0 || connection.unsent_offset + static_cast<size_t>(n) < front.size())
            ++connection.in_flight;
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
        if (n <= 0) return false;
        connection.last_send_progress = std::chrono::steady_clock::now();
        connection.unsent_offset += static_cast<size_t>(n);
        if (connection.unsent_offset < front.size()) return true;  // the socket is full
        connection.unsent.pop_front();
        connection.unsent_offset = 0;
    }
    return true;
}

void AgentServer::DiscardUnsentLocked(AgentConnection& connection) {
    connection.in_flight -= connection.unsent.size();
    connection.unsent.clear();
    connection.unsent_offset = 0;
}

// ---- sender --------------------------------------------------------------

// Sends what the sockets did not take at once. A reply that cannot go out
// for send_stall_waits waits (the manager stopped reading) ends its connection.
void AgentServer::SenderLoop(std::stop_token stop) {
    std::vector<std::shared_ptr<AgentConnection>> pending;
    while (!stop.stop_requested()) {
        {
            std::lock_guard lock(backlog_mutex_);
            pending.insert(pending.end(), backlog_.begin(), backlog_.end());
            backlog_.clear();
        }
        std::vector<pollfd> fds = {{backlog_changed_.fd(), POLLIN, 0}};
        for (const auto& c : pending)
            fds.push_back({c->fd(), POLLOUT, 0});
        ::poll(fds.data(), fds.size(), WaitMs(options_.wait_interval));
        if (fds[0].revents) backlog_changed_.Drain();
        if (stop.stop_requested()) break;
        const auto now = std::chrono::steady_clock::now();
        const auto stall_limit = options_.wait_interval * options_.send_stall_waits;
        for (size_t i = 0; i < pending.size(); ++i) {
            AgentConnection& c = *pending[i];
            std::lock_guard lock(c.send_mutex);
            bool failed = c.IsDropped() || c.IsShutDown();
            if (!failed && (fds[i + 1].revents & (POLLOUT | POLLERR | POLLHUP)))
                failed = !SendUnsentLocked(c);
            if (!failed && !c.unsent.empty() && now - c.last_send_progress >= stall_limit) {
                Log("send stalled or failed to " + c.PeerText());
                failed = true;
            }
            if (failed) {
                DiscardUnsentLocked(c);
                c.Shutdown();  // the receiver sees it and drops the connection
            }
        }
        std::erase_if(pending, [](const std::shared_ptr<AgentConnection>& c) {
            std::lock_guard lock(c->send_mutex);
            return c->unsent.empty();
        });
    }
}

}  // namespace halvorin
