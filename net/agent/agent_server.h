// The agent: serves the authorised managers on its TCP ports, several at
// once, and runs their enumerations and SCSI commands on this host's
// enclosure services devices.
//
// Threads: the receiver accepts connections, reads messages and hands each
// request to the worker pool; a worker runs it and sends the reply itself
// when the socket takes it at once; the sender thread sends only what the
// socket did not take (a manager that reads slowly). Name checks (resolver
// calls) run on the workers too, never on the receiver. Start() and Stop()
// are called from one thread (the UI or main thread); SetAuthorized() and
// SetNotify() from any thread. Stop() wakes and joins every thread the
// server started; a worker still blocked in the kernel (a SCSI command cannot
// be interrupted) after a few seconds is left to finish there, and the
// server waits for it only when it is destroyed.
//
// Up to max_managers managers are served at once, each on its own connection
// with its own request limit and idle rules. Connections that have not yet
// been admitted wait beside them (a bounded number, each with its own
// deadline), so a stranger that connects and says nothing cannot keep a
// manager out. An admitted hello that finds every place taken is answered
// "busy" with the names of the managers served; with a limit of one it waits
// for its turn instead. A connection must be admitted before anything else
// is served on it, and commands run only on addresses the agent's own
// discovery found. Running out of memory drops one connection or fails one
// request (-3), never the agent.
#pragma once

#include <chrono>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/result_code.h"
#include "base/unique_fd.h"
#include "base/wakeup.h"
#include "net/agent/agent_connection.h"
#include "net/agent/client_authorization.h"
#include "net/agent/device_catalog.h"
#include "net/agent/download_guard.h"
#include "net/agent/peer_name_check.h"
#include "net/agent/request_executor.h"
#include "net/agent/worker_pool.h"
#include "net/tls/tls_context.h"

namespace halvorin {

struct AgentOptions {
    uint16_t port = kDefaultAgentPort;  // 0: any free port (tests)
    // Numeric ADDR or ADDR:PORT ("[::1]:6001"); empty: every IPv4 and IPv6
    // address on `port`.
    std::vector<std::string> listen;
    size_t max_managers = 8;
    // Accept a listed name on the peer's word, without resolving it. Weaker:
    // anyone who can reach the port may claim a listed name.
    bool accept_claimed_names = false;
    // With a certificate, key and client CA, every connection speaks TLS and
    // only managers with a certificate from that CA are served.
    TlsFiles tls;
    bool verbose = false;  // also log every read
    // One "second" of the idle rules: a stalled message is dropped after
    // idle_waits_before_drop of these, a silent stranger after waits_for_hello.
    std::chrono::milliseconds wait_interval{1000};
    int idle_waits_before_drop = 10;
    int waits_for_hello = 10;
    int send_stall_waits = 10;  // a reply that cannot be sent for this long drops the connection
    std::chrono::milliseconds refusal_delay{1000};
    size_t max_in_flight = 512;                    // per connection; beyond it requests get -6
    size_t max_waiting = 8;                        // connections not yet admitted; the oldest goes
    std::chrono::milliseconds stop_grace{3000};    // how long Stop() waits for busy workers
    std::chrono::milliseconds worker_idle{10000};  // an idle worker thread ends after this
    std::chrono::milliseconds rescan_interval{3000};
    std::u16string computer_name;           // sent in hello replies; default: the host name
    std::vector<std::u16string> own_names;  // default: this computer's names
};

class AgentServer {
  public:
    AgentServer(ScsiTransport& transport, AgentOptions options = {});
    ~AgentServer();
    AgentServer(const AgentServer&) = delete;
    AgentServer& operator=(const AgentServer&) = delete;

    // 0, also when already started; -6 when a listen address is bad, a port
    // cannot be bound or a thread cannot start (StartError() says why).
    int Start();
    // Returns how many requests were still running in the kernel when it
    // gave up waiting for them.
    size_t Stop();

    // Names, addresses and networks (see AllowEntry).
    int SetAuthorized(std::vector<std::u16string> entries);
    void SetNotify(ServerNotifyFn fn, void* context);

    uint16_t port() const { return bound_port_; }
    const std::string& StartError() const { return start_error_; }
    // The longest-served manager's name; empty when none.
    std::u16string CurrentClient() const { return authorization_.CurrentClient(); }
    std::vector<ServedManager> ServedManagers() const { return authorization_.Served(); }

  private:
    // A refused connection, shut down once its refusal had a moment to arrive.
    struct Closing {
        std::shared_ptr<AgentConnection> connection;
        std::chrono::steady_clock::time_point at;
    };

    // A connection that has not been admitted, or waits for a place.
    struct Waiting {
        std::shared_ptr<AgentConnection> connection;
        FrameAssembler assembler;
        std::chrono::steady_clock::time_point deadline;
        std::optional<WireMessage> hello;  // said; admitted once `admitted`
        bool checking_name = false;        // its name is being resolved
        bool admitted = false;             // waits for a place
        bool leaving = false;              // closed or refused: out of the list this round
        bool handshake_wants_write = false;
        bool plain = false;  // a manager without TLS at a TLS agent: refused in plain
    };

    // A manager being served.
    struct Served {
        std::shared_ptr<AgentConnection> connection;
        FrameAssembler assembler;
        std::chrono::steady_clock::time_point last_progress;  // of a message under way
    };

    struct NameCheckDone {
        uint64_t connection_id = 0;
        PeerNameCheck check;
    };

    enum class ReadResult { kNothing, kData, kMessage, kClosed, kBroken };

    bool OpenListeners();
    void LogRules() const;
    void ReceiverLoop(std::stop_token stop);
    void ReceiveRound(std::stop_token stop);
    bool AcceptOne(int listener);
    void ServeConnection(Served& served, short revents, std::chrono::steady_clock::time_point now);
    void ServeWaiting(Waiting& waiting, short revents, std::chrono::steady_clock::time_point now);
    enum class FirstByte { kNotYet, kClosed, kSeen };
    FirstByte DecideTls(Waiting& waiting);
    bool ContinueHandshake(Waiting& waiting);
    void RefuseHandshake(Waiting& waiting);
    static short WaitingEvents(const Waiting& waiting);
    bool OnWaitingMessage(Waiting& waiting, WireMessage message);
    void StartNameCheck(Waiting& waiting, const std::u16string& name);
    void ApplyNameChecks();
    void PromoteWaiting();
    void AnswerBusy(Waiting& waiting);
    void Drop(Served& served, const std::string& reason);
    ReadResult ReadMessage(AgentConnection& connection, FrameAssembler& assembler,
                           WireMessage& message);
    ReadResult ReadAvailable(AgentConnection& connection, FrameAssembler& assembler);
    void CloseRefused(std::chrono::steady_clock::time_point now);
    int ReceiveWaitMs(std::chrono::steady_clock::time_point now) const;
    void Dispatch(Served& served, WireMessage message);
    void HandleHello(const std::shared_ptr<AgentConnection>& connection, const WireMessage& hello);
    void Refuse(const std::shared_ptr<AgentConnection>& connection, const MSG_HDR& request,
                const std::string& why, int result = kHelloRefused,
                std::span<const uint8_t> payload = {});
    void StartRequest(Served& served, WireMessage message);
    std::optional<AgentReply> Execute(AgentConnection& connection, const WireMessage& request,
                                      std::stop_token stop);
    std::optional<AgentReply> ExecuteDataOut(AgentConnection& connection,
                                             const WireMessage& request, std::stop_token stop);
    // Sends the reply now when the socket takes it, else leaves it to the
    // sender thread. The caller has already counted it in in_flight.
    void QueueReply(const std::shared_ptr<AgentConnection>& connection,
                    std::vector<uint8_t> message);
    // Under the connection's send_mutex: sends what the socket takes of the
    // unsent replies; false when the connection failed.
    bool SendUnsentLocked(AgentConnection& connection);
    void DiscardUnsentLocked(AgentConnection& connection);

    void SenderLoop(std::stop_token stop);

    ScsiTransport& transport_;
    const AgentOptions options_;
    DeviceCatalog catalog_;
    RequestExecutor executor_;
    ClientAuthorization authorization_;
    DownloadGuard downloads_;

    bool started_ = false;
    std::string start_error_;
    std::shared_ptr<const TlsContext> tls_;  // null: plain TCP
    std::vector<sockaddr_storage> listen_addresses_;
    uint16_t bound_port_ = 0;
    Wakeup wakeup_;

    // Receiver thread only.
    std::vector<UniqueFd> listeners_;
    std::list<Served> served_;
    Served* reading_ = nullptr;  // the connection being read, for an allocation failure
    std::deque<Waiting> waiting_;
    std::deque<Closing> closing_;
    uint64_t next_connection_id_ = 1;

    // Name checks finished on the workers, for the receiver.
    std::mutex name_checks_mutex_;
    std::vector<NameCheckDone> name_checks_;

    // Connections with unsent replies, for the sender thread.
    std::mutex backlog_mutex_;
    std::vector<std::shared_ptr<AgentConnection>> backlog_;
    Wakeup backlog_changed_;

    WorkerPool workers_;
    std::jthread sender_;
    std::jthread receiver_;
};

}  // namespace halvorin
