// The threads that move the bytes of every agent connection of the process.
// Connections share a small, fixed set of threads, each sleeping in one
// epoll set on the sockets (and name lookups) of the connections it carries,
// instead of a thread each: a manager that follows thousands of hosts runs a
// handful of threads. At most kMaxConnectAttempts connections resolve,
// connect and say hello at once; the others wait their turn, so a fleet of
// hosts that cannot be reached is tried in turn rather than all at once.
//
// A connection (a LoopParticipant) is serviced on one thread only, never
// twice at the same time; Detach returns once its Service has returned and
// will not run again.
#pragma once

#include <sys/epoll.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace halvorin {

class LoopParticipant {
  public:
    // What the participant waits for until its next Service.
    // Descriptor numbers are reused as soon as they are closed (by any
    // thread), so the loop never names a descriptor that may be closed:
    // socket_id changes whenever the participant closes or replaces its
    // socket (a closed socket leaves the epoll set by itself), and a lookup
    // descriptor the participant no longer waits for stays open until its
    // next Service.
    struct Wait {
        int socket_fd = -1;
        uint64_t socket_id = 0;
        uint32_t socket_events = 0;  // EPOLLIN, EPOLLOUT
        int lookup_fd = -1;          // readable once a name lookup has finished
        uint64_t lookup_id = 0;
        std::chrono::milliseconds within{1000};  // Service again at the latest after this
    };

    // On the loop's thread: what its socket reported (0 when something else,
    // a time or a Wake, brought it here).
    virtual Wait Service(uint32_t socket_events) = 0;

  protected:
    ~LoopParticipant() = default;
};

class ConnectionLoop {
  public:
    static constexpr int kMaxConnectAttempts = 64;

    // The process's loop; it lives as long as the process.
    static ConnectionLoop& Shared();

    explicit ConnectionLoop(size_t threads);
    ~ConnectionLoop();  // every participant must have been detached
    ConnectionLoop(const ConnectionLoop&) = delete;
    ConnectionLoop& operator=(const ConnectionLoop&) = delete;

    // Service runs soon on one of the threads; false when no thread could be
    // started.
    bool Attach(LoopParticipant* participant);
    // When this returns, Service is not running and will not run again. Not
    // from inside Service.
    void Detach(LoopParticipant* participant);
    // Service runs soon, from any thread.
    void Wake(LoopParticipant* participant);

    // A connection attempt may start (true) or must wait its turn: the
    // participants that were refused get their attempts in the order they
    // asked, each woken when its turn comes. Each true is given back with
    // EndAttempt.
    bool BeginAttempt(LoopParticipant* participant);
    void EndAttempt();
    int attempts() const;
    size_t threads() const { return workers_.size(); }

  private:
    class Worker;
    Worker* WorkerOf(LoopParticipant* participant);

    std::vector<std::unique_ptr<Worker>> workers_;
    std::mutex assigned_mutex_;
    std::unordered_map<LoopParticipant*, Worker*> assigned_;
    size_t next_worker_ = 0;
    mutable std::mutex turns_mutex_;
    int attempts_ = 0;                      // guarded by turns_mutex_
    std::deque<LoopParticipant*> waiting_;  // for a turn, oldest first; guarded by turns_mutex_
};

}  // namespace halvorin
