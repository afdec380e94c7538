// CSesClient: the manager's end of one connection to a host's agent. It
// resolves the host, connects, says hello, frames and queues requests,
// matches replies by tag, times requests out and reconnects after failures.
// Finished requests wait in a completed list until the owner calls
// DeliverCompleted on its own thread, where their handlers run.
//
// Threads: a thread of the shared ConnectionLoop (the "connection thread"
// below; it carries many clients, servicing one at a time) moves bytes and
// times requests out; it never runs a handler. The owner's thread (the UI
// thread) calls Enqueue/SendScsiIn/SendScsiOut, DeliverCompleted and Stop.
// One mutex guards the slots, buckets, tick counter, send queue, completed
// list and the socket descriptor; handlers run outside it and may enqueue
// again.
//
// Every request ends exactly once: by its reply, its timeout (-7), a lost
// connection (-10) or the client's stop (-15).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "base/unique_fd.h"
#include "base/wakeup.h"
#include "net/client/completion_signal.h"
#include "net/client/connection_loop.h"
#include "net/client/name_resolver.h"
#include "net/protocol/frame_assembler.h"
#include "net/tls/tls_session.h"

namespace halvorin {

enum ConnectionState : int {
    kStateConstructed = 0,
    kStateWaiting = 1,     // started, not connected; waits for the retry time
    kStateConnecting = 2,  // resolving and connecting, or connected before the hello
    kStateHelloSent = 3,
    kStateReady = 4,        // hello accepted; requests flow
    kStateUnreachable = 6,  // resolution or every connect failed
    kStateClosed = 7,
};

inline constexpr size_t kRequestSlots = 512;
inline constexpr size_t kTimeoutBuckets = 64;
inline constexpr int kMaxRequestTimeout = 63;

// Receives the reply payload (empty unless the result is a byte count above
// 0) and the result: the byte count, or a negative result code. The payload
// is freed when the handler returns.
using ReplyHandler = std::function<void(std::span<const uint8_t> payload, int result)>;

struct ClientOptions {
    Clock* clock = &SystemClock();
    std::shared_ptr<NameResolver> resolver = SystemResolver();
    std::u16string computer_name;  // empty: this computer's manager name
    uint16_t default_port = kDefaultAgentPort;
    // Longest wait of the connection thread. It also wakes for its socket,
    // new requests, the stop request, the retry time and the one-second tick,
    // so an idle connection wakes once a second.
    std::chrono::milliseconds max_wait{1000};
    std::chrono::seconds connect_timeout{10};  // per address tried
    ConnectionLoop* loop = nullptr;            // nullptr: the process's shared loop
    // Shared by many clients: their finished requests are announced there
    // instead of on a descriptor of each client's own.
    std::shared_ptr<CompletionSignal> completions;
    // Speaks TLS to the agent with this context; null: plain TCP.
    std::shared_ptr<const TlsContext> tls;
};

class CSesClient final : public LoopParticipant {
  public:
    CSesClient(std::string server_address, ClientOptions options = {});
    ~CSesClient();
    CSesClient(const CSesClient&) = delete;
    CSesClient& operator=(const CSesClient&) = delete;

    // Starts the connection thread (state 0 or 7 only); 0 or -6.
    int Start();
    // State 7, every pending request ends with -15, the thread is joined and
    // the completions are delivered. Safe to call more than once.
    void Stop();

    // A request normally waits in the send queue across a reconnection. One
    // sent with `connection` (a connection_generation()) belongs to that
    // connection: refused with -10 when it is no longer the ready one, and
    // ended with -10 instead of going out on a later connection.
    static constexpr uint64_t kAnyConnection = 0;
    int SendScsiIn(const SES_ADDR& address, const Cdb& cdb, int timeout_s, ReplyHandler handler,
                   uint64_t connection = kAnyConnection);
    int SendScsiOut(const SES_ADDR& address, const Cdb& cdb, std::span<const uint8_t> data,
                    int timeout_s, ReplyHandler handler, uint64_t connection = kAnyConnection);
    int Enqueue(uint8_t type, std::span<const uint8_t> payload, int timeout_s, ReplyHandler handler,
                uint64_t connection = kAnyConnection);

    // Runs the handlers of finished requests, in the order they finished.
    void DeliverCompleted();
    // Readable while finished requests (or posted tasks) wait for
    // DeliverCompleted, so the owner can sleep in poll() or a socket
    // notifier until there is work instead of looking at intervals.
    // With a shared CompletionSignal, that signal's descriptor.
    int completion_fd() const {
        return options_.completions ? options_.completions->fd() : completions_waiting_->fd();
    }
    // Runs on the owner's thread, in DeliverCompleted, each time a hello is
    // accepted: the place to start reading the host at once.
    void SetReadyHandler(std::function<void()> handler);
    // Runs `task` on the owner's thread at its next DeliverCompleted. False
    // (and nothing queued) once the client is closed.
    bool PostToOwner(std::function<void()> task);
    // Ends every pending request (queued ones included) with the code.
    void FailAll(int code);

    int state() const { return state_.load(); }
    uint8_t host_kind() const { return host_kind_.load(); }
    const std::string& server_address() const { return server_address_; }
    uint16_t port() const { return port_; }
    int64_t retry_time() const { return retry_time_.load(); }
    // The result of the last hello answer: 0, -18 when refused, -25 when the
    // agent serves as many managers as it may; 1 before any.
    int last_hello_result() const { return last_hello_result_.load(); }
    // What the agent said with its last refusal (for -25, the managers it
    // serves); empty when it said nothing.
    std::string last_refusal_text() const;
    // The name this client says in its hello.
    const std::u16string& computer_name() const { return computer_name_; }
    int32_t tick_counter() const;
    // Counts connection attempts: it changes whenever the connection is
    // replaced, so a caller can tell that requests may have been lost between
    // two looks (the upgrade thread ends on it).
    uint64_t connection_generation() const;
    size_t pending_requests() const;
    // No request in flight and no finished one waiting for DeliverCompleted:
    // only then has every handler run (a handler may send the next request).
    bool quiet() const;
    // Why the last connection or connection attempt ended: a result code
    // (-10, -11, -12, -14, -18, -26, ...), 0 while none has failed.
    int last_failure() const { return last_failure_.load(); }
    // Why the last TLS connection failed (-26); empty when none did.
    std::string last_tls_error() const;
    // Why the host was unreachable the last time (state 6), in the system's
    // words: "cannot resolve NAME", or the socket's reason for the last
    // address tried ("Connection refused").
    std::string unreachable_reason() const;
    // Wakes the connection thread (tests use it after moving a manual clock).
    void Wake();
    // A caller that waits for this host with a deadline of its own (a
    // command-line tool) asks for the next connection attempt now instead of
    // at the retry time. No effect while connected or connecting.
    void RetryNow();

  private:
    struct Request;
    struct Slot {
        uint32_t tag;
        std::unique_ptr<Request> pending;
    };

    // ---- connection thread
    Wait Service(uint32_t socket_events) override;
    Wait NextWait(std::chrono::milliseconds within) const;
    void ServiceSocket(uint32_t socket_events);
    void RunTimeoutTick();
    int Connect();
    int FinishResolution();
    void ReleaseAttempt();
    int TryNextAddress();
    int OnConnectingWritable();
    int ContinueHandshake();
    bool Handshaking() const { return tls_ && !tls_->HandshakeDone(); }
    ssize_t ReceiveSome(void* data, size_t size);
    ssize_t SendSome(const void* data, size_t size);
    int TlsFailure();
    int StartHello();
    int SendOutgoing();
    int SendQueued();
    int Receive();
    void MatchReply(const WireMessage& message);
    void Disconnect();
    void OnFailure(int result);
    std::chrono::milliseconds UntilNextTick() const;
    void CloseSocket();
    void NotifyCompletions();

    // ---- shared
    int EnqueueLocked(std::unique_ptr<Request> request, int timeout_s, bool hold_out);
    void FailSlotLocked(size_t slot, int code);
    void CompleteLocked(size_t slot);
    void ParkCompletedLocked(std::unique_ptr<Request> request);
    void OnHelloReply(uint64_t generation, std::span<const uint8_t> payload, int result);
    void RefuseHelloLocked(int result);

    const std::string server_address_;
    ClientOptions options_;
    std::string host_;
    uint16_t port_;
    bool address_valid_ = false;
    std::u16string computer_name_;

    std::atomic<int> state_{kStateConstructed};
    std::atomic<uint8_t> host_kind_{0};
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> retry_time_{0};
    std::atomic<int> last_hello_result_{1};
    std::string refusal_text_;        // guarded by mutex_
    std::string tls_error_;           // guarded by mutex_
    std::string unreachable_reason_;  // guarded by mutex_
    int last_connect_errno_ = 0;      // connection thread only
    std::atomic<int> last_failure_{0};
    bool ever_started_ = false;
    ConnectionLoop* loop_;
    bool attached_ = false;  // owner's thread only
    // Signalled when completed_ stops being empty; none with a shared signal.
    std::unique_ptr<Wakeup> completions_waiting_;
    std::function<void()> ready_handler_;  // owner's thread only

    mutable std::mutex mutex_;
    std::array<Slot, kRequestSlots> slots_;
    size_t search_position_ = 0;
    std::array<std::list<Request*>, kTimeoutBuckets> buckets_;
    std::list<Request*> send_queue_;
    std::vector<std::unique_ptr<Request>> completed_;
    int32_t tick_counter_ = 0;
    UniqueFd socket_;  // replaced and closed only under mutex_
    // Over socket_ while TLS is on; replaced and freed with it.
    std::unique_ptr<TlsSession> tls_;
    bool handshake_wants_write_ = false;
    uint64_t connection_generation_ = 0;

    // Connection thread only.
    std::vector<uint8_t> outgoing_;
    size_t outgoing_sent_ = 0;
    FrameAssembler assembler_;
    int64_t last_tick_ms_ = 0;
    std::vector<ResolvedAddress> addresses_;
    size_t next_address_ = 0;
    int64_t connect_started_ms_ = 0;
    bool connect_pending_ = false;
    std::shared_ptr<PendingResolution> resolution_;
    // The lookup given up in the last Service: its descriptor stays open
    // until the loop has taken it out of its set.
    std::shared_ptr<PendingResolution> finished_lookup_;
    uint64_t lookups_started_ = 0;
    uint64_t socket_serial_ = 0;             // changes whenever socket_ is closed or replaced
    std::atomic<bool> attempt_held_{false};  // one of the loop's connection attempts
};

}  // namespace halvorin
