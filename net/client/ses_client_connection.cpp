// The client's connection thread: connecting (address by address), the
// handshake and hello, sending the queued requests, matching replies and
// retrying after failures.
#include "net/client/ses_client.h"

#include "net/client/ses_client_request.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>

#include <sys/socket.h>
#include <cstring>

#include <algorithm>
#include <cerrno>

#include "base/byte_order.h"
#include "base/host_name.h"
#include "base/result_code.h"
#include "base/utf16.h"
#include "net/protocol/host_address.h"

namespace halvorin {

namespace {

constexpr int kHelloTimeout = 10;
constexpr int64_t kTickPeriodMs = 950;  // a tick is due this long after the last one
constexpr int64_t kTickWaitMs = 1000;   // and the thread sleeps towards this
constexpr int64_t kRetryAfterUnreachable = 100;
constexpr int64_t kRetryAfterLostConnection = 2;
constexpr int64_t kRetryAfterRefusedHello = 5;
constexpr size_t kReceiveChunk = 1024;

void SetPort(ResolvedAddress& a, uint16_t port) {
    if (a.family == AF_INET) reinterpret_cast<sockaddr_in*>(&a.address)->sin_port = htons(port);
    if (a.family == AF_INET6) reinterpret_cast<sockaddr_in6*>(&a.address)->sin6_port = htons(port);
}

}  // namespace

// ---- connection thread ---------------------------------------------------------

// One turn of the connection: the timeout tick when due, the next step of a
// connection attempt, or what the socket reported. Returns what to wait for.
LoopParticipant::Wait CSesClient::Service(uint32_t socket_events) {
    Clock& clock = *options_.clock;
    finished_lookup_.reset();  // its descriptor has left the loop's set
    if (stop_) return {};
    if (clock.TickMs() - last_tick_ms_ >= kTickPeriodMs) {
        last_tick_ms_ = clock.TickMs();
        RunTimeoutTick();
    }
    const int st = state_;
    if (st == kStateClosed) return {};
    if (resolution_) {
        if (!resolution_->Done()) return NextWait(options_.max_wait);
        if (const int result = FinishResolution(); result < 0) OnFailure(result);
        return NextWait(UntilNextTick());
    }
    if (st != kStateConnecting && st != kStateHelloSent && st != kStateReady) {
        if (clock.NowSeconds() < retry_time_) return NextWait(UntilNextTick());
        // Hosts beyond what may connect at once wait their turn (the loop
        // wakes each when it comes).
        if (!attempt_held_ && !loop_->BeginAttempt(this)) return NextWait(UntilNextTick());
        attempt_held_ = true;
        if (const int result = Connect(); result < 0) OnFailure(result);
        return NextWait(UntilNextTick());
    }
    ServiceSocket(socket_events);
    return NextWait(UntilNextTick());
}

// What the connection waits for: its name lookup, or its socket (writable
// while connecting, saying hello or with something to send).
LoopParticipant::Wait CSesClient::NextWait(std::chrono::milliseconds within) const {
    Wait wait;
    wait.within = within;
    if (resolution_) {
        wait.lookup_fd = resolution_->done_fd();
        wait.lookup_id = lookups_started_;
        return wait;
    }
    const int st = state_;
    if (!socket_.valid() || (st != kStateConnecting && st != kStateHelloSent && st != kStateReady))
        return wait;
    // Writable is asked for only while something waits to be written (or
    // the connect to finish): a socket is nearly always writable, and asking
    // for it with nothing to send would wake us without end.
    bool want_write =
        Handshaking() ? handshake_wants_write_ : st == kStateConnecting || !outgoing_.empty();
    if (!want_write && st == kStateReady) {
        std::lock_guard lock(mutex_);
        want_write = !send_queue_.empty();
    }
    wait.socket_fd = socket_.get();
    wait.socket_id = socket_serial_;
    wait.socket_events = uint32_t(EPOLLIN) | (want_write ? uint32_t(EPOLLOUT) : 0u);
    return wait;
}

void CSesClient::ServiceSocket(uint32_t revents) {
    Clock& clock = *options_.clock;
    int result = 0;
    if (connect_pending_) {
        const bool timed_out =
            clock.TickMs() - connect_started_ms_ >= options_.connect_timeout.count() * 1000;
        if (revents & (EPOLLOUT | EPOLLERR | EPOLLHUP)) {
            result = OnConnectingWritable();
        } else if (timed_out) {
            // An address that drops packets silently: go on with the next
            // one, as after a refusal, not from the first one again.
            CloseSocket();
            connect_pending_ = false;
            result = TryNextAddress();
        }
    } else if (Handshaking()) {
        // A peer that closes here is no TLS agent, or refused us: the
        // handshake reads the close and says which.
        const bool timed_out =
            clock.TickMs() - connect_started_ms_ >= options_.connect_timeout.count() * 1000;
        if (revents & (EPOLLIN | EPOLLOUT | EPOLLERR | EPOLLHUP | EPOLLRDHUP))
            result = ContinueHandshake();
        else if (timed_out)
            result = kTimedOut;
    } else if (revents & EPOLLERR) {
        result = kConnectionClosed;
    } else {
        if (revents & (EPOLLIN | EPOLLHUP | EPOLLRDHUP)) result = Receive();
        if (result >= 0 && (revents & EPOLLOUT)) {
            const int now_state = state_;
            if (now_state == kStateConnecting)
                result = StartHello();
            else if (now_state == kStateHelloSent)
                result = SendOutgoing();
            else if (now_state == kStateReady)
                result = SendQueued();
        }
    }
    if (result < 0) OnFailure(result);
}

// Until the next one-second tick, which also bounds the retry and connect
// waits (both counted in whole seconds); never longer than max_wait.
std::chrono::milliseconds CSesClient::UntilNextTick() const {
    const int64_t left = last_tick_ms_ + kTickWaitMs - options_.clock->TickMs();
    return std::clamp(std::chrono::milliseconds(left), std::chrono::milliseconds(1),
                      options_.max_wait);
}

void CSesClient::RunTimeoutTick() {
    std::lock_guard lock(mutex_);
    ++tick_counter_;
    auto& bucket = buckets_[tick_counter_ & static_cast<int>(kTimeoutBuckets - 1)];
    while (!bucket.empty()) {
        Request* request = bucket.front();
        request->result = kTimedOut;
        request->message.clear();
        CompleteLocked(request->slot);
    }
}

int CSesClient::Connect() {
    state_ = kStateConnecting;
    const int64_t now = options_.clock->NowSeconds();
    auto unreachable = [&](int code) {
        state_ = kStateUnreachable;
        retry_time_ = now + kRetryAfterUnreachable;
        return code;
    };
    if (!address_valid_) return unreachable(kGeneralFailure);
    // The lookup runs on; its descriptor brings us back once it has finished.
    resolution_ = PendingResolution::Start(options_.resolver, host_);
    ++lookups_started_;
    if (!resolution_) {
        state_ = kStateWaiting;
        retry_time_ = now + kRetryAfterUnreachable;
        return kNoResource;
    }
    return kOk;
}

int CSesClient::FinishResolution() {
    addresses_ = resolution_->Result();
    finished_lookup_ = std::move(resolution_);
    next_address_ = 0;
    if (addresses_.empty()) {
        {
            std::lock_guard lock(mutex_);
            unreachable_reason_ = "cannot resolve " + host_;
        }
        state_ = kStateUnreachable;
        retry_time_ = options_.clock->NowSeconds() + kRetryAfterUnreachable;
        return kGeneralFailure;
    }
    return TryNextAddress();
}

// Starts a non-blocking connect to the next resolved address that takes one;
// each address gets a socket of its own family.
int CSesClient::TryNextAddress() {
    while (next_address_ < addresses_.size()) {
        ResolvedAddress address = addresses_[next_address_++];
        SetPort(address, port_);
        UniqueFd fd(::socket(address.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!fd.valid()) continue;
        const int rc =
            ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address.address), address.length);
        if (rc != 0 && errno != EINPROGRESS) last_connect_errno_ = errno;
        if (rc == 0 || errno == EINPROGRESS) {
            std::lock_guard lock(mutex_);
            tls_.reset();
            socket_ = std::move(fd);
            ++socket_serial_;
            ++connection_generation_;
            connect_pending_ = true;
            connect_started_ms_ = options_.clock->TickMs();
            return kOk;
        }
    }
    {
        std::lock_guard lock(mutex_);
        unreachable_reason_ = last_connect_errno_ ? std::strerror(last_connect_errno_)
                                                  : "no address of " + host_ + " answered";
    }
    state_ = kStateUnreachable;
    retry_time_ = options_.clock->NowSeconds() + kRetryAfterUnreachable;
    return kConnectFailed;
}

int CSesClient::OnConnectingWritable() {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket_.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        // Refused or unreachable: this address is no good, try the next one.
        last_connect_errno_ = error != 0 ? error : errno;
        CloseSocket();
        connect_pending_ = false;
        return TryNextAddress();
    }
    connect_pending_ = false;
    const int on = 1;
    ::setsockopt(socket_.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (!options_.tls) return StartHello();
    std::string why;
    auto session = TlsSession::Create(options_.tls, socket_.get(), host_, why);
    {
        std::lock_guard lock(mutex_);
        if (!session) {
            tls_error_ = why;
            return kTlsFailed;
        }
        tls_ = std::move(session);
    }
    return ContinueHandshake();
}

// The hello goes out once the handshake is through. The agent checks the
// manager's certificate after the manager's last handshake message, so a
// refusal arrives as a TLS error on the first read, not here.
int CSesClient::ContinueHandshake() {
    const TlsSession::Step step = tls_->Handshake();
    handshake_wants_write_ = step == TlsSession::Step::kWantWrite;
    if (step == TlsSession::Step::kFailed) return TlsFailure();
    return step == TlsSession::Step::kDone ? StartHello() : kOk;
}

int CSesClient::TlsFailure() {
    std::lock_guard lock(mutex_);
    tls_error_ = tls_ ? tls_->error() : std::string();
    return kTlsFailed;
}

ssize_t CSesClient::ReceiveSome(void* data, size_t size) {
    if (tls_) return tls_->Receive(data, size);
    return ::recv(socket_.get(), data, size, MSG_DONTWAIT);
}

ssize_t CSesClient::SendSome(const void* data, size_t size) {
    if (tls_) return tls_->Send(data, size);
    return ::send(socket_.get(), data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
}

int CSesClient::StartHello() {
    auto hello = EncodeHello(HELLO_INFO{1, computer_name_});
    auto request = std::make_unique<Request>();
    MSG_HDR header;
    header.type = MSG_HELLO;
    header.request = 1;
    request->message = BuildMessage(header, hello);
    {
        std::lock_guard lock(mutex_);
        const uint64_t generation = connection_generation_;
        request->handler = [this, generation](std::span<const uint8_t> payload, int result) {
            OnHelloReply(generation, payload, result);
        };
        Request* raw = request.get();
        if (EnqueueLocked(std::move(request), kHelloTimeout, true) < 0) return kNoResource;
        outgoing_ = std::move(raw->message);
        raw->message.clear();
        outgoing_sent_ = 0;
        state_ = kStateHelloSent;
    }
    return SendOutgoing();
}

void CSesClient::OnHelloReply(uint64_t generation, std::span<const uint8_t> payload, int result) {
    {
        std::lock_guard lock(mutex_);
        // A late answer to the hello of an earlier connection changes nothing.
        if (generation != connection_generation_ || state_ != kStateHelloSent) return;
        last_hello_result_ = result >= 0 ? kOk : result;
        if (result < 0) {
            refusal_text_ = SanitizedUtf8(
                std::string_view(reinterpret_cast<const char*>(payload.data()), payload.size()));
            RefuseHelloLocked(result);
            return;
        }
        if (payload.size() == kHelloInfoSize) host_kind_ = payload[0];
        state_ = kStateReady;
    }
    ReleaseAttempt();  // connected: the next host may try
    Wake();
    if (ready_handler_) ready_handler_();  // outside the mutex: it sends requests
}

std::string CSesClient::unreachable_reason() const {
    std::lock_guard lock(mutex_);
    return unreachable_reason_;
}

std::string CSesClient::last_tls_error() const {
    std::lock_guard lock(mutex_);
    return tls_error_;
}

std::string CSesClient::last_refusal_text() const {
    std::lock_guard lock(mutex_);
    return refusal_text_;
}

void CSesClient::RefuseHelloLocked(int result) {
    last_failure_ = result;
    ReleaseAttempt();
    if (socket_.valid()) ::shutdown(socket_.get(), SHUT_RDWR);
    const int64_t delay = result == kHelloRefused || result == kAgentBusy
                              ? kRetryAfterRefusedHello
                              : kRetryAfterLostConnection;
    retry_time_ = options_.clock->NowSeconds() + delay;
}

// Sends what the socket takes of the outgoing message. A full socket ends the
// round; the next writable wake-up goes on.
int CSesClient::SendOutgoing() {
    while (outgoing_sent_ < outgoing_.size()) {
        const ssize_t n =
            SendSome(outgoing_.data() + outgoing_sent_, outgoing_.size() - outgoing_sent_);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return kOk;
        if (n < 0 && errno == EPROTO) return TlsFailure();
        if (n <= 0) return kConnectionClosed;
        outgoing_sent_ += static_cast<size_t>(n);
    }
    outgoing_.clear();
    outgoing_sent_ = 0;
    return kOk;
}

int CSesClient::SendQueued() {
    while (state_ == kStateReady) {
        if (outgoing_.empty()) {
            std::lock_guard lock(mutex_);
            if (send_queue_.empty()) return kOk;
            Request* request = send_queue_.front();
            send_queue_.pop_front();
            request->queued = false;
            outgoing_ = std::move(request->message);
            request->message.clear();
            outgoing_sent_ = 0;
        }
        const int result = SendOutgoing();
        if (result < 0) return result;
        if (!outgoing_.empty()) return kOk;  // the socket is full
    }
    return kOk;
}

int CSesClient::Receive() {
    while (true) {
        std::span<uint8_t> area = assembler_.FreeArea(kReceiveChunk);
        const ssize_t n = ReceiveSome(area.data(), area.size());
        if (n == 0) return kConnectionClosed;
        if (n < 0 && errno == EPROTO) return TlsFailure();
        if (n < 0) return kOk;  // would block, or an error the next wait reports
        assembler_.Commit(static_cast<size_t>(n));
        WireMessage message;
        while (true) {
            const auto status = assembler_.Next(message);
            if (status == FrameAssembler::Status::kBroken) return kProtocolError;
            if (status == FrameAssembler::Status::kNeedMore) break;
            MatchReply(message);
        }
    }
}

void CSesClient::MatchReply(const WireMessage& message) {
    if (message.header.request != 0) return;
    const size_t index = message.header.tag & (kRequestSlots - 1);
    std::lock_guard lock(mutex_);
    Slot& slot = slots_[index];
    if (slot.tag != message.header.tag || !slot.pending) return;  // late or unknown: dropped
    Request& request = *slot.pending;
    if (message.header.status < 0) {
        request.result = message.header.status;
        // A refused hello may say why (who the agent serves, when busy).
        if (message.header.type == MSG_HELLO) request.reply = message.payload;
    } else {
        request.result = static_cast<int>(message.header.length);
        request.reply = message.payload;
    }
    request.message.clear();
    CompleteLocked(index);
}

void CSesClient::Disconnect() {
    std::lock_guard lock(mutex_);
    if (socket_.valid()) {
        ::shutdown(socket_.get(), SHUT_RDWR);
        tls_.reset();
        socket_.reset();
        ++socket_serial_;
    }
    const int st = state_;
    if (st == kStateConnecting) {
        state_ = kStateWaiting;
    } else if (st == kStateHelloSent || st == kStateReady) {
        // What was sent is lost with the connection; what still waits in the
        // send queue goes out after the next accepted hello, unless it
        // belongs to this connection alone.
        for (size_t i = 0; i < kRequestSlots; ++i) {
            const Request* pending = slots_[i].pending.get();
            if (pending && (!pending->queued || pending->connection != kAnyConnection))
                FailSlotLocked(i, kConnectionLost);
        }
        state_ = kStateWaiting;
    }
    outgoing_.clear();
    outgoing_sent_ = 0;
    assembler_.Clear();
    connect_pending_ = false;
}

void CSesClient::CloseSocket() {
    std::lock_guard lock(mutex_);
    tls_.reset();
    socket_.reset();
    ++socket_serial_;
}

void CSesClient::RetryNow() {
    const int st = state_;
    if (st != kStateWaiting && st != kStateUnreachable) return;
    retry_time_ = 0;
    Wake();
}

void CSesClient::ReleaseAttempt() {
    if (attempt_held_.exchange(false)) loop_->EndAttempt();
}

void CSesClient::OnFailure(int result) {
    last_failure_ = result;
    if (resolution_) finished_lookup_ = std::move(resolution_);
    ReleaseAttempt();
    Disconnect();
    const int64_t earliest = options_.clock->NowSeconds() + kRetryAfterLostConnection;
    if (retry_time_ < earliest) retry_time_ = earliest;
}

}  // namespace halvorin
