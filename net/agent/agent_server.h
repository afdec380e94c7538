// The agent: serves one manager at a time on a TCP port, checks its hello
// against the authorised names, and runs its enumerations and SCSI commands
// on this host's enclosure services devices.
//
// Threads: the receiver accepts the one connection, reads messages and starts
// a worker per request; the sender sends queued replies; workers run one
// request each. Start() and Stop() are called from one thread (the UI or
// main thread); SetAuthorized() and SetNotify() from any thread. Stop() wakes
// and joins every thread the server started, workers included.
//
// A connection must say an authorised hello before anything else is served on
// it, and commands run only on addresses the agent's own discovery found.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/unique_fd.h"
#include "base/wakeup.h"
#include "net/agent/agent_connection.h"
#include "net/agent/client_authorization.h"
#include "net/agent/device_catalog.h"
#include "net/agent/request_executor.h"

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
    void Stop();

    int SetAuthorized(std::vector<std::u16string> names);
    void SetNotify(ServerNotifyFn fn, void* context);

    uint16_t port() const { return bound_port_; }
    const std::string& StartError() const { return start_error_; }
    std::u16string CurrentClient() const { return authorization_.CurrentClient(); }

  private:
    struct QueuedReply {
        std::shared_ptr<AgentConnection> connection;
        std::vector<uint8_t> message;
    };
    struct Worker {
        std::jthread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };

    bool OpenListener();
    void ReceiverLoop(std::stop_token stop);
    void AcceptOne();
    void ServeConnectionOnce(std::stop_token stop);
    bool HelloOverdue() const;
    void DropConnection(const std::string& reason);
    void Dispatch(const std::shared_ptr<AgentConnection>& connection, WireMessage message);
    void HandleHello(const std::shared_ptr<AgentConnection>& connection, const WireMessage& hello);
    void Refuse(const std::shared_ptr<AgentConnection>& connection, const MSG_HDR& request,
                const std::string& why);
    void StartRequest(const std::shared_ptr<AgentConnection>& connection, WireMessage message);
    // The caller has already counted the reply in the connection's in_flight.
    void QueueReply(const std::shared_ptr<AgentConnection>& connection,
                    std::vector<uint8_t> message);

    void SenderLoop(std::stop_token stop);
    bool SendAll(const AgentConnection& connection, const std::vector<uint8_t>& message,
                 std::stop_token stop);

    bool StartWorker(std::function<void(std::stop_token)> job);
    void ReapWorkers();
    void StopWorkers();

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
    std::shared_ptr<AgentConnection> connection_;
    FrameAssembler assembler_;
    int idle_waits_ = 0;
    std::chrono::steady_clock::time_point accepted_at_;
    uint64_t next_connection_id_ = 1;

    std::mutex queue_mutex_;
    std::condition_variable_any queue_changed_;
    std::deque<QueuedReply> replies_;

    std::mutex workers_mutex_;
    std::list<Worker> workers_;

    std::jthread sender_;
    std::jthread receiver_;
};

}  // namespace halvorin
