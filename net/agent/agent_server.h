// The agent: serves one manager at a time on a TCP port, checks its hello
// against the authorised names, and runs its enumerations and SCSI commands
// on this host's enclosure services devices.
//
// Threads: the receiver accepts connections, reads messages and hands each
// request to the worker pool; a worker runs it and sends the reply itself
// when the socket takes it at once; the sender thread sends only what the
// socket did not take (a manager that reads slowly). Start() and Stop() are
// called from one thread (the UI or main thread); SetAuthorized() and
// SetNotify() from any thread. Stop() wakes and joins every thread the
// server started; a worker still blocked in the kernel (a SCSI command cannot
// be interrupted) after a few seconds is left to finish there, and the
// server waits for it only when it is destroyed.
//
// One manager is served at a time. Connections that have not yet said an
// authorised hello wait beside it (a bounded number, each with its own
// deadline), so a stranger that connects and says nothing cannot keep the
// manager out; an authorised hello that arrives while another manager is
// served waits for its turn. A connection must say an authorised hello
// before anything else is served on it, and commands run only on addresses
// the agent's own discovery found. Running out of memory drops one
// connection or fails one request (-3), never the agent.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/unique_fd.h"
#include "base/wakeup.h"
#include "net/agent/agent_connection.h"
#include "net/agent/client_authorization.h"
#include "net/agent/device_catalog.h"
#include "net/agent/request_executor.h"
#include "net/agent/worker_pool.h"

namespace halvorin {

struct AgentOptions {
    uint16_t port = kDefaultAgentPort;  // 0: any free port (tests)
    // One "second" of the idle rules: a stalled message is dropped after
    // idle_waits_before_drop of these, a silent stranger after waits_for_hello.
    std::chrono::milliseconds wait_interval{1000};
    int idle_waits_before_drop = 10;
    int waits_for_hello = 10;
    int send_stall_waits = 10;  // a reply that cannot be sent for this long drops the connection
    std::chrono::milliseconds refusal_delay{1000};
    size_t max_in_flight = 512;  // per connection; beyond it requests get -6
    size_t max_waiting = 8;      // connections without an authorised hello; the oldest goes
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

    // 0, also when already started; -6 when the port cannot be bound or a
    // thread cannot start (StartError() says why).
    int Start();
    // Returns how many requests were still running in the kernel when it
    // gave up waiting for them.
    size_t Stop();

    int SetAuthorized(std::vector<std::u16string> names);
    void SetNotify(ServerNotifyFn fn, void* context);

    uint16_t port() const { return bound_port_; }
    const std::string& StartError() const { return start_error_; }
    std::u16string CurrentClient() const { return authorization_.CurrentClient(); }

  private:
    // A refused connection, shut down once its refusal had a moment to arrive.
    struct Closing {
        std::shared_ptr<AgentConnection> connection;
        std::chrono::steady_clock::time_point at;
    };

    // A connection that has not said an authorised hello yet.
    struct Waiting {
        std::shared_ptr<AgentConnection> connection;
        FrameAssembler assembler;
        std::chrono::steady_clock::time_point deadline;
        std::optional<WireMessage> hello;  // authorised, waiting for the served manager to leave
        bool leaving = false;              // closed or refused: out of the list this round
    };
    enum class ReadResult { kNothing, kData, kMessage, kClosed, kBroken };

    bool OpenListener();
    void ReceiverLoop(std::stop_token stop);
    void ReceiveRound(std::stop_token stop);
    bool AcceptOne();
    void ServeConnection(short revents);
    void ServeWaiting(Waiting& waiting, short revents, std::chrono::steady_clock::time_point now);
    bool OnWaitingMessage(Waiting& waiting, WireMessage message);
    void PromoteWaiting();
    void DropConnection(const std::string& reason);
    ReadResult ReadMessage(AgentConnection& connection, FrameAssembler& assembler,
                           WireMessage& message);
    ReadResult ReadAvailable(AgentConnection& connection, FrameAssembler& assembler);
    void CloseRefused(std::chrono::steady_clock::time_point now);
    int ReceiveWaitMs(std::chrono::steady_clock::time_point now) const;
    void Dispatch(const std::shared_ptr<AgentConnection>& connection, WireMessage message);
    void HandleHello(const std::shared_ptr<AgentConnection>& connection, const WireMessage& hello);
    void Refuse(const std::shared_ptr<AgentConnection>& connection, const MSG_HDR& request,
                const std::string& why);
    void StartRequest(const std::shared_ptr<AgentConnection>& connection, WireMessage message);
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

    bool started_ = false;
    std::string start_error_;
    uint16_t bound_port_ = 0;
    Wakeup wakeup_;

    // Receiver thread only.
    UniqueFd listener_;
    std::shared_ptr<AgentConnection> connection_;  // the manager being served
    FrameAssembler assembler_;
    std::chrono::steady_clock::time_point last_progress_;  // of a message under way
    std::deque<Waiting> waiting_;
    std::deque<Closing> closing_;
    uint64_t next_connection_id_ = 1;

    // Connections with unsent replies, for the sender thread.
    std::mutex backlog_mutex_;
    std::vector<std::shared_ptr<AgentConnection>> backlog_;
    Wakeup backlog_changed_;

    WorkerPool workers_;
    std::jthread sender_;
    std::jthread receiver_;
};

}  // namespace halvorin
