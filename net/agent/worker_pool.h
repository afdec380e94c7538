// The agent's worker threads: a pool that runs one request per job. Threads
// are kept between requests (no thread is started per request); a new one is
// started only when every thread is busy, up to a limit, and a thread that
// has been idle for a while ends (one always stays). A command that blocks
// in the kernel therefore holds one thread, never the whole pool.
//
// Thread safety: Submit from any thread; Stop and the destructor from the
// owner's thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <stop_token>
#include <thread>

namespace halvorin {

class WorkerPool {
  public:
    using Job = std::function<void(std::stop_token)>;

    WorkerPool(size_t max_threads, std::chrono::milliseconds idle_timeout);
    // Waits for every thread, those Stop() left running included.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Queues a job; false (and nothing queued) once stopped, or when no thread
    // runs and none could be started.
    bool Submit(Job job);

    // Asks every job to stop, drops the jobs not yet started and waits up to
    // `grace` for the running ones. Returns how many still run (blocked in
    // the kernel); they end on their own and the destructor waits for them.
    size_t Stop(std::chrono::milliseconds grace);

    size_t threads() const;

  private:
    struct Thread {
        std::jthread thread;
        bool finished = false;  // guarded by mutex_
    };

    void Run(Thread* self);
    bool StartThreadLocked();
    void ReapLocked();

    const size_t max_threads_;
    const std::chrono::milliseconds idle_timeout_;
    std::stop_source stop_;

    mutable std::mutex mutex_;
    std::condition_variable_any work_ready_;
    std::condition_variable_any thread_ended_;
    std::deque<Job> jobs_;
    std::list<Thread> threads_;
    size_t idle_ = 0;
    size_t live_ = 0;  // threads not yet finished
};

}  // namespace halvorin
