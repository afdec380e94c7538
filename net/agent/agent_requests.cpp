// The agent server's served connections: reading their messages, answering
// or starting each request, and the replies the sockets did not take at once.
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

}  // namespace halvorin
