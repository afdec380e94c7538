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

#include "base/clock.h"
#include "base/host_name.h"
#include "base/log.h"
#include "base/result_code.h"
#include "base/utf16.h"
#include "net/agent/command_audit.h"
#include "net/protocol/listen_address.h"

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

// A busy answer names the managers served; it stays a short message.
constexpr size_t kMaxBusyText = 4000;

int WaitMs(std::chrono::milliseconds interval) {
    return static_cast<int>(interval.count());
}

// "NAME at ADDRESS:PORT", for the audit lines.
std::string WhoText(const AgentConnection& connection) {
    return connection.ManagerText() + " at " + connection.PeerText();
}

std::string AuditResult(int result) {
    if (result >= 0) return "ok";
    return std::string(ResultCodeName(result)) + " (" + std::to_string(result) + ")";
}

std::vector<uint8_t> TextBytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace

AgentServer::AgentServer(ScsiTransport& transport, AgentOptions options)
    : transport_(transport),
      options_(WithDefaults(std::move(options))),
      catalog_(transport, options_.rescan_interval),
      executor_(transport, catalog_),
      authorization_(options_.own_names, options_.accept_claimed_names),
      workers_(options_.max_in_flight, options_.worker_idle) {}

AgentServer::~AgentServer() {
    Stop();
    // workers_ goes before the rest of this object and joins every worker,
    // those Stop() left in the kernel included: they use this object.
}

// Binds every listen address. With the default addresses an unusable IPv6
// (a host without it) is tolerated; addresses the administrator named must
// all be bound. With port 0 the first socket's port is used for the others.
bool AgentServer::OpenListeners() {
    std::vector<UniqueFd> opened;
    std::vector<sockaddr_storage> addresses = listen_addresses_;
    for (sockaddr_storage& address : addresses) {
        if (PortOf(address) == 0 && !opened.empty()) SetPort(address, bound_port_);
        std::string error;
        UniqueFd fd = OpenListenSocket(address, kListenBacklog, error);
        if (!fd.valid()) {
            if (options_.listen.empty() && address.ss_family == AF_INET6) {
                Log(error + " (IPv6 not served)");
                continue;
            }
            start_error_ = error;
            return false;
        }
        if (opened.empty()) {
            sockaddr_storage bound{};
            socklen_t length = sizeof bound;
            ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&bound), &length);
            bound_port_ = PortOf(bound);
        }
        SetPort(address, bound_port_ && PortOf(address) == 0 ? bound_port_ : PortOf(address));
        opened.push_back(std::move(fd));
    }
    if (opened.empty()) {
        start_error_ = "no address to listen on";
        return false;
    }
    listeners_ = std::move(opened);
    listen_addresses_ = std::move(addresses);
    return true;
}

void AgentServer::LogRules() const {
    std::string listening;
    for (const sockaddr_storage& address : listen_addresses_)
        listening += (listening.empty() ? "" : ", ") + SocketAddressText(address);
    const std::string tls = tls_ ? "TLS on, managers need a certificate from " + options_.tls.ca
                                 : std::string("TLS off");
    Log("agent listening on " + listening + "; " + authorization_.RulesText() + "; " + tls +
        "; up to " + std::to_string(options_.max_managers) + " managers at once");
}

int AgentServer::Start() {
    if (started_) return kOk;
    start_error_.clear();
    if (!wakeup_.valid() || !backlog_changed_.valid()) {
        start_error_ = "cannot create the wake-up descriptor";
        return kNoResource;
    }
    auto addresses = ParseListenAddresses(options_.listen, options_.port, start_error_);
    if (!addresses) return kNoResource;
    listen_addresses_ = std::move(*addresses);
    if (options_.tls.Any()) {
        tls_ = TlsContext::Create(TlsRole::kAgent, options_.tls, start_error_);
        if (!tls_) return kNoResource;
    }
    if (!OpenListeners()) return kNoResource;
    try {
        sender_ = std::jthread([this](std::stop_token stop) { SenderLoop(stop); });
        receiver_ = std::jthread([this](std::stop_token stop) { ReceiverLoop(stop); });
    } catch (const std::system_error& error) {
        start_error_ = std::string("cannot start a thread: ") + error.what();
        sender_ = {};  // requests stop and joins
        listeners_.clear();
        return kNoResource;
    }
    started_ = true;
    LogRules();
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
    listeners_.clear();
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

int AgentServer::SetAuthorized(std::vector<std::u16string> entries) {
    authorization_.SetAuthorized(std::move(entries));
    return kOk;
}

void AgentServer::SetNotify(ServerNotifyFn fn, void* context) {
    authorization_.SetNotify(fn, context);
}

// ---- receiver ------------------------------------------------------------

void AgentServer::ReceiverLoop(std::stop_token stop) {
    while (!stop.stop_requested()) {
        if (listeners_.empty() && !OpenListeners()) {
            // Try again each round until the ports can be bound again.
            pollfd wake{wakeup_.fd(), POLLIN, 0};
            ::poll(&wake, 1, WaitMs(options_.wait_interval));
            wakeup_.Drain();
            continue;
        }
        try {
            ReceiveRound(stop);
        } catch (const std::bad_alloc&) {
            // Only the connection being read can have asked for the memory.
            if (reading_) Drop(*reading_, "out of memory");
            std::erase_if(served_, [](const Served& s) { return s.connection->IsDropped(); });
            waiting_.clear();
        }
        reading_ = nullptr;
    }
    for (Served& s : served_)
        Drop(s, "agent stopping");
    served_.clear();
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
        // What the peer sent meanwhile is read first: closing with unread
        // data would reset the connection, and the peer lose our last words.
        closing_.front().connection->DiscardInput();
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

// One wait on everything: the listeners, the served managers and the
// connections that wait, each on its own deadline.
void AgentServer::ReceiveRound(std::stop_token stop) {
    ApplyNameChecks();
    PromoteWaiting();
    std::vector<pollfd> fds = {{wakeup_.fd(), POLLIN, 0}};
    for (const UniqueFd& listener : listeners_)
        fds.push_back({listener.get(), POLLIN, 0});
    std::vector<const AgentConnection*> readers(fds.size(), nullptr);
    auto watch = [&](const AgentConnection& connection, short events) {
        fds.push_back({connection.fd(), events, 0});
        readers.push_back(&connection);
    };
    const size_t first_served = fds.size();
    for (const Served& s : served_)
        watch(*s.connection, POLLIN);
    const size_t first_waiting = fds.size();
    for (const Waiting& w : waiting_)
        watch(*w.connection, WaitingEvents(w));
    // What TLS has already decrypted is read as if the socket had it.
    auto buffered = [&](size_t i) {
        return readers[i] && (fds[i].events & POLLIN) && readers[i]->HasBufferedInput();
    };
    bool any_buffered = false;
    for (size_t i = first_served; i < fds.size() && !any_buffered; ++i)
        any_buffered = buffered(i);
    const int wait_ms = any_buffered ? 0 : ReceiveWaitMs(std::chrono::steady_clock::now());
    const int ready = ::poll(fds.data(), fds.size(), wait_ms);
    if (fds[0].revents) wakeup_.Drain();
    for (size_t i = first_served; any_buffered && i < fds.size(); ++i)
        if (buffered(i)) fds[i].revents |= POLLIN;
    if (stop.stop_requested()) return;
    if (ready < 0 && errno != EINTR) {
        listeners_.clear();  // re-created next round
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    CloseRefused(now);
    // Waiting connections first: accepting may push the oldest out.
    for (size_t i = waiting_.size(); i-- > 0;)
        ServeWaiting(waiting_[i], fds[first_waiting + i].revents, now);
    std::erase_if(waiting_, [](const Waiting& w) { return w.leaving; });
    size_t index = first_served;
    for (Served& s : served_) {
        reading_ = &s;
        ServeConnection(s, fds[index++].revents, now);
    }
    reading_ = nullptr;
    std::erase_if(served_, [](const Served& s) { return s.connection->IsDropped(); });
    for (size_t i = 0; i < listeners_.size(); ++i) {
        const short revents = fds[1 + i].revents;
        if (revents & (POLLERR | POLLNVAL)) {
            listeners_.clear();  // re-created next round
            return;
        }
        if (revents & POLLIN) {
            for (size_t n = 0; n <= options_.max_waiting && AcceptOne(listeners_[i].get()); ++n) {
            }
        }
    }
}

bool AgentServer::AcceptOne(int listener) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    UniqueFd client(::accept4(listener, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC));
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
    Waiting waiting{std::move(connection), FrameAssembler(), deadline};
    waiting_.push_back(std::move(waiting));
    return true;
}

// Reads what has arrived, never past the message under way (its length
// decides what comes next).
AgentServer::ReadResult AgentServer::ReadMessage(AgentConnection& connection,
                                                 FrameAssembler& assembler, WireMessage& message) {
    std::span<uint8_t> area = assembler.FreeArea(assembler.MissingForCurrent());
    const ssize_t received = connection.Receive(area.data(), area.size());
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
    auto close = [&](const std::string& why, LogPriority priority = LogPriority::kInfo) {
        Log(priority, "closed " + connection.PeerText() + " (" + why + ")");
        connection.MarkDropped();
        connection.Shutdown();
        w.leaving = true;
    };
    // The deadline is for being admitted; an admitted manager that waits for
    // its turn may wait (its own hello timeout may end the wait).
    if (!w.admitted && now >= w.deadline) {
        close("no authorised hello in time");
        return;
    }
    if (!(revents & (POLLIN | POLLOUT | POLLERR | POLLHUP))) return;
    if (tls_ && !w.plain && !connection.tls()) {
        const FirstByte first = DecideTls(w);
        if (first == FirstByte::kClosed) close("closed by peer");
        if (first != FirstByte::kSeen) return;
    }
    if (!connection.Open()) {
        if (!ContinueHandshake(w)) RefuseHandshake(w);
        return;
    }
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

// A waiting connection reads its hello, or goes on with its TLS handshake
// in whichever direction the handshake needs.
short AgentServer::WaitingEvents(const Waiting& w) {
    if (w.hello) return 0;
    return w.handshake_wants_write ? POLLOUT : POLLIN;
}

// The handshake has sent its alert; like a refused hello, the connection
// stays open a moment so the alert reaches the manager.
void AgentServer::RefuseHandshake(Waiting& w) {
    Log(LogPriority::kWarning,
        "TLS refused " + w.connection->PeerText() + ": " + w.connection->tls()->error());
    w.connection->refused = true;
    w.leaving = true;
    closing_.push_back({w.connection, std::chrono::steady_clock::now() + options_.refusal_delay});
}

// A TLS agent looks at the first byte before it starts the handshake: a
// manager without TLS sends a plain hello, which is read and refused in
// plain words it understands, instead of a handshake failure it cannot read.
AgentServer::FirstByte AgentServer::DecideTls(Waiting& w) {
    constexpr uint8_t kTlsHandshakeRecord = 0x16;
    uint8_t first = 0;
    const ssize_t peeked = ::recv(w.connection->fd(), &first, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked < 0 && (errno == EAGAIN || errno == EINTR)) return FirstByte::kNotYet;
    if (peeked != 1) return FirstByte::kClosed;
    if (first != kTlsHandshakeRecord) {
        w.plain = true;
        return FirstByte::kSeen;
    }
    std::string error;
    auto session = TlsSession::Create(tls_, w.connection->fd(), {}, error);
    if (!session) {
        Log(LogPriority::kWarning, "cannot start TLS: " + error);
        return FirstByte::kClosed;
    }
    w.connection->UseTls(std::move(session));
    return FirstByte::kSeen;
}

// False when the handshake failed. A finished one names the certificate.
bool AgentServer::ContinueHandshake(Waiting& w) {
    TlsSession& tls = *w.connection->tls();
    const TlsSession::Step step = tls.Handshake();
    w.handshake_wants_write = step == TlsSession::Step::kWantWrite;
    if (step == TlsSession::Step::kFailed) return false;
    if (step == TlsSession::Step::kDone)
        Log("TLS with " + w.connection->PeerText() + ": certificate " + tls.PeerSubject());
    return true;
}

// False when the connection leaves the waiting list (refused; the refusal
// closes it a moment later).
bool AgentServer::OnWaitingMessage(Waiting& w, WireMessage message) {
    if (message.header.request == 0) return true;
    if (message.header.type != MSG_HELLO) {
        Refuse(w.connection, message.header, "request before an authorised hello");
        return false;
    }
    if (w.plain) {
        Refuse(w.connection, message.header, "hello without TLS", kHelloRefused,
               TextBytes("this agent serves managers over TLS only"));
        return false;
    }
    auto info = DecodeHello(message.payload);
    if (!info) {
        Refuse(w.connection, message.header, "short hello");
        return false;
    }
    switch (authorization_.Admit(info->computer_name, *w.connection)) {
        case Admission::kRefused:
            Refuse(w.connection, message.header,
                   "hello from unauthorised name \"" + Utf16ToUtf8(info->computer_name) + "\"");
            return false;
        case Admission::kNeedsNameCheck:
            w.hello = std::move(message);
            StartNameCheck(w, info->computer_name);
            return true;
        case Admission::kAdmitted:
            w.hello = std::move(message);  // served at its turn
            w.admitted = true;
            return true;
    }
    return false;
}

// The resolver may take seconds: it runs on a worker, and the receiver
// picks the answer up on a later round.
void AgentServer::StartNameCheck(Waiting& w, const std::u16string& name) {
    w.checking_name = true;
    const uint64_t id = w.connection->id();
    const sockaddr_storage peer = w.connection->peer();
    const bool submitted = workers_.Submit([this, id, peer, name](std::stop_token) {
        NameCheckDone done{id, CheckPeerName(Utf16ToUtf8(name), peer)};
        {
            std::lock_guard lock(name_checks_mutex_);
            name_checks_.push_back(std::move(done));
        }
        wakeup_.Signal();
    });
    if (!submitted) {
        std::lock_guard lock(name_checks_mutex_);
        name_checks_.push_back({id, {false, "no worker free to check the name"}});
    }
}

void AgentServer::ApplyNameChecks() {
    std::vector<NameCheckDone> done;
    {
        std::lock_guard lock(name_checks_mutex_);
        done.swap(name_checks_);
    }
    for (NameCheckDone& result : done) {
        auto found = std::find_if(waiting_.begin(), waiting_.end(), [&](const Waiting& w) {
            return w.connection->id() == result.connection_id && w.checking_name;
        });
        if (found == waiting_.end()) continue;  // closed meanwhile
        found->checking_name = false;
        if (result.check.confirmed) {
            found->admitted = true;
            continue;
        }
        const auto info = DecodeHello(found->hello->payload);
        Refuse(found->connection, found->hello->header,
               "hello from \"" + Utf16ToUtf8(info ? info->computer_name : u"") +
                   "\" not confirmed: " + result.check.why);
        waiting_.erase(found);
    }
}

// Admitted managers take the free places in the order they came; with every
// place taken they hear "busy" at once, unless only one manager is served at
// a time (then they wait for their turn).
void AgentServer::PromoteWaiting() {
    for (auto it = waiting_.begin(); it != waiting_.end();) {
        if (!it->admitted) {
            ++it;
            continue;
        }
        if (served_.size() >= options_.max_managers) {
            if (options_.max_managers <= 1) return;
            AnswerBusy(*it);
            it = waiting_.erase(it);
            continue;
        }
        Waiting w = std::move(*it);
        it = waiting_.erase(it);
        Served& s = served_.emplace_back();
        s.connection = w.connection;
        s.last_progress = std::chrono::steady_clock::now();
        HandleHello(s.connection, *w.hello);
    }
}

void AgentServer::AnswerBusy(Waiting& w) {
    std::string text = "serving " + std::to_string(served_.size()) + " managers (";
    bool first = true;
    for (const ServedManager& m : authorization_.Served()) {
        text += (first ? "" : ", ") + Utf16ToUtf8(m.name) + " at " + m.peer + " since " +
                Rfc3339Utc(m.since);
        first = false;
    }
    text += ")";
    if (text.size() > kMaxBusyText) text.resize(kMaxBusyText);
    Refuse(w.connection, w.hello->header, "agent busy: " + text, kAgentBusy, TextBytes(text));
}

void AgentServer::ServeConnection(Served& s, short revents,
                                  std::chrono::steady_clock::time_point now) {
    if (s.connection->IsDropped()) return;
    if (!(revents & (POLLIN | POLLERR | POLLHUP))) {
        if (!s.assembler.Empty() &&
            now - s.last_progress >= options_.wait_interval * options_.idle_waits_before_drop) {
            Drop(s, "message stalled");
        }
        return;
    }
    // One read takes what has arrived, often several messages.
    const ReadResult read = ReadAvailable(*s.connection, s.assembler);
    if (read == ReadResult::kClosed) {
        Drop(s, "closed by peer or receive failed");
        return;
    }
    s.last_progress = now;
    WireMessage message;
    while (!s.connection->IsDropped()) {
        const FrameAssembler::Status status = s.assembler.Next(message);
        if (status == FrameAssembler::Status::kNeedMore) return;
        if (status == FrameAssembler::Status::kBroken) {
            Drop(s, "bad message header");
            return;
        }
        Dispatch(s, std::move(message));
    }
}

AgentServer::ReadResult AgentServer::ReadAvailable(AgentConnection& connection,
                                                   FrameAssembler& assembler) {
    std::span<uint8_t> area = assembler.FreeArea(FrameAssembler::kCapacity);
    const ssize_t received = connection.Receive(area.data(), area.size());
    if (received < 0 && (errno == EAGAIN || errno == EINTR)) return ReadResult::kNothing;
    if (received <= 0) return ReadResult::kClosed;
    assembler.Commit(static_cast<size_t>(received));
    return ReadResult::kData;
}

// Marks the connection dropped; the receiver takes it out of served_ at the
// end of the round.
void AgentServer::Drop(Served& s, const std::string& reason) {
    AgentConnection& connection = *s.connection;
    if (connection.IsDropped()) return;
    connection.MarkDropped();
    connection.Shutdown();
    authorization_.ConnectionDropped(connection);
    downloads_.ReleaseAll(connection.id());
    s.assembler.Clear();
    Log("dropped connection from " + connection.PeerText() + " (" + reason + ")");
}

void AgentServer::Dispatch(Served& s, WireMessage message) {
    const std::shared_ptr<AgentConnection>& connection = s.connection;
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
                StartRequest(s, std::move(message));
            }
            return;
        default:
            return;  // unknown types get no reply
    }
}

// The first hello of a served connection records its manager; a later one
// on the same connection is answered again only for the same name.
void AgentServer::HandleHello(const std::shared_ptr<AgentConnection>& connection,
                              const WireMessage& hello) {
    auto info = DecodeHello(hello.payload);
    if (!info) {
        Refuse(connection, hello.header, "short hello");
        return;
    }
    const std::string name = Utf16ToUtf8(info->computer_name);
    const bool authorised = connection->authorized
                                ? EqualsIgnoreCase(connection->manager_name, info->computer_name)
                                : authorization_.Authorize(info->computer_name, connection);
    if (!authorised) {
        Refuse(connection, hello.header, "hello from unauthorised name \"" + name + "\"");
        return;
    }
    if (!connection->authorized) {
        connection->manager_name = info->computer_name;
        connection->authorized = true;
        const std::string certificate =
            connection->tls() ? " with certificate " + connection->tls()->PeerSubject() : "";
        Log("authorised " + name + " at " + connection->PeerText() + certificate);
    }
    auto payload = EncodeHello(HELLO_INFO{1, options_.computer_name});
    ++connection->in_flight;
    QueueReply(connection, BuildReply(hello.header, static_cast<int32_t>(payload.size()), payload));
}

void AgentServer::Refuse(const std::shared_ptr<AgentConnection>& connection, const MSG_HDR& request,
                         const std::string& why, int result, std::span<const uint8_t> payload) {
    Log(LogPriority::kWarning, "refused " + connection->PeerText() + ": " + why);
    connection->refused = true;
    ++connection->in_flight;
    QueueReply(connection, BuildReply(request, result, payload));
    // Give the refusal a moment to reach the manager, then end this connection
    // (never a later one: the entry holds this connection only).
    closing_.push_back({connection, std::chrono::steady_clock::now() + options_.refusal_delay});
}

void AgentServer::StartRequest(Served& s, WireMessage message) {
    const std::shared_ptr<AgentConnection>& connection = s.connection;
    const size_t pending = connection->in_flight.load();
    if (pending >= 2 * options_.max_in_flight) {
        // The peer keeps sending without reading its replies.
        Drop(s, "too many requests outstanding");
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
            reply = Execute(*connection, *request, stop);
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

// On a worker. One enumeration per connection at a time: a second one while
// the first runs gets no reply, as it always has; other managers' run
// beside it.
std::optional<AgentReply> AgentServer::Execute(AgentConnection& connection,
                                               const WireMessage& request, std::stop_token stop) {
    switch (request.header.type) {
        case MSG_ENUM_DEVICES: {
            if (connection.enumerating.exchange(true)) return std::nullopt;
            struct Done {
                AgentConnection& c;
                ~Done() { c.enumerating = false; }
            } done{connection};
            return executor_.Execute(request, stop);
        }
        case MSG_SCSI_OUT:
            return ExecuteDataOut(connection, request, stop);
        default: {
            auto reply = executor_.Execute(request, stop);
            if (options_.verbose && reply) {
                if (auto scsi = DecodeScsiReq(request.payload))
                    Log("read by " + WhoText(connection) + ": " + DeviceText(scsi->address) + " " +
                        CommandText(*scsi, {}) + ": " + AuditResult(reply->result));
            }
            return reply;
        }
    }
}

// Control writes: one firmware download per device at a time, and an audit
// line for each write (see command_audit.h).
std::optional<AgentReply> AgentServer::ExecuteDataOut(AgentConnection& connection,
                                                      const WireMessage& request,
                                                      std::stop_token stop) {
    auto scsi = DecodeScsiReq(request.payload);
    if (!scsi) return std::nullopt;
    const std::span<const uint8_t> data =
        std::span(request.payload).subspan(std::min(request.payload.size(), kScsiReqSize));
    const std::string who = WhoText(connection);
    const std::string what = DeviceText(scsi->address) + " " + CommandText(*scsi, data);
    if (IsFirmwareDownload(*scsi)) {
        if (auto holder = downloads_.Claim(scsi->address.Identifier(), connection.id(), who)) {
            Log(LogPriority::kWarning, "refused control write by " + who + ": " + what +
                                           ": a firmware download by " + *holder + " is under way");
            return AgentReply{kUpgradeRunning, TextBytes("firmware download by " + *holder)};
        }
    }
    auto reply = executor_.Execute(request, stop);
    const int result = reply ? reply->result : kTimedOut;
    if (AuditsWrite(*scsi, result)) {
        Log(LogPriority::kNotice, "control write by " + who + ": " + what + ": " +
                                      (reply ? AuditResult(result) : "no reply"));
    }
    return reply;
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
        const ssize_t n = connection.Send(front.data() + connection.unsent_offset,
                                          front.size() - connection.unsent_offset);
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
                Log(LogPriority::kWarning, "send stalled or failed to " + c.PeerText());
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
