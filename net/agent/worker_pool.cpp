#include "net/agent/worker_pool.h"

#include <system_error>

namespace halvorin {

WorkerPool::WorkerPool(size_t max_threads, std::chrono::milliseconds idle_timeout)
    : max_threads_(std::max<size_t>(max_threads, 1)), idle_timeout_(idle_timeout) {}

WorkerPool::~WorkerPool() {
    Stop(std::chrono::milliseconds(0));
    std::list<Thread> all;
    {
        std::lock_guard lock(mutex_);
        all.swap(threads_);
    }
    all.clear();  // joins each
}

size_t WorkerPool::threads() const {
    std::lock_guard lock(mutex_);
    return live_;
}

bool WorkerPool::Submit(Job job) {
    std::lock_guard lock(mutex_);
    if (stop_.stop_requested()) return false;
    ReapLocked();
    jobs_.push_back(std::move(job));
    // Every idle thread already has a job waiting for it: this one needs another.
    if (jobs_.size() > idle_ && live_ < max_threads_ && !StartThreadLocked() && live_ == 0) {
        jobs_.pop_back();
        return false;
    }
    work_ready_.notify_one();
    return true;
}

bool WorkerPool::StartThreadLocked() {
    try {
        Thread& slot = threads_.emplace_back();
        slot.thread = std::jthread([this, &slot] { Run(&slot); });
    } catch (const std::system_error&) {
        threads_.pop_back();
        return false;
    }
    ++live_;
    return true;
}

// Joins threads that ended by themselves (idle); outside the lock would be
// nicer, but an ended thread joins at once.
void WorkerPool::ReapLocked() {
    for (auto it = threads_.begin(); it != threads_.end();) {
        it = it->finished ? threads_.erase(it) : std::next(it);
    }
}

void WorkerPool::Run(Thread* self) {
    const std::stop_token stop = stop_.get_token();
    std::unique_lock lock(mutex_);
    while (true) {
        ++idle_;
        const bool got =
            work_ready_.wait_for(lock, stop, idle_timeout_, [this] { return !jobs_.empty(); });
        --idle_;
        if (!got) {
            // Stopped, or idle for long enough: end, keeping one thread.
            if (stop.stop_requested() || live_ > 1) break;
            continue;
        }
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job(stop);
        job = nullptr;  // what it holds goes before we count as idle
        lock.lock();
    }
    self->finished = true;
    --live_;
    thread_ended_.notify_all();
}

size_t WorkerPool::Stop(std::chrono::milliseconds grace) {
    std::unique_lock lock(mutex_);
    stop_.request_stop();
    jobs_.clear();
    work_ready_.notify_all();
    thread_ended_.wait_for(lock, grace, [this] { return live_ == 0; });
    ReapLocked();
    return live_;
}

}  // namespace halvorin
