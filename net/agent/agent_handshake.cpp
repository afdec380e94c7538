// The agent server's waiting connections: accepting them, the TLS and
// hello handshake, the name checks, and promotion to served (or busy).
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

// A busy answer names the managers served; it stays a short message.
constexpr size_t kMaxBusyText = 4000;

std::vector<uint8_t> TextBytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace

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

}  // namespace halvorin
