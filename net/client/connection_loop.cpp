#include "net/client/connection_loop.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <queue>
#include <system_error>
#include <thread>
#include <tuple>
#include <unordered_map>

#include "base/unique_fd.h"

namespace halvorin {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kDefaultThreads = 2;
constexpr int kEventsPerWait = 256;
constexpr uint64_t kWakeId = 0;  // the worker's own eventfd in its epoll set

// An epoll registration names its participant's entry and which of its
// descriptors it is: entry id * 2, + 1 for the name lookup.
uint64_t Tag(uint64_t id, bool lookup) {
    return id * 2 + (lookup ? 1 : 0);
}

}  // namespace

class ConnectionLoop::Worker {
  public:
    Worker()
        : epoll_(::epoll_create1(EPOLL_CLOEXEC)), wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~Worker() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        Signal();
        if (thread_.joinable()) thread_.join();
    }

    // Starts the thread on first use.
    bool EnsureStarted() {
        std::lock_guard lock(start_mutex_);
        if (started_) return true;
        if (!epoll_.valid() || !wake_.valid()) return false;
        epoll_event wake{};
        wake.events = EPOLLIN;
        wake.data.u64 = Tag(kWakeId, false);
        if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, wake_.get(), &wake) != 0) return false;
        try {
            thread_ = std::thread([this] { Run(); });
        } catch (const std::system_error&) {
            return false;
        }
        started_ = true;
        return true;
    }

    void Attach(LoopParticipant* participant) {
        {
            std::lock_guard lock(mutex_);
            auto entry = std::make_unique<Entry>();
            entry->participant = participant;
            entry->id = ++last_id_;
            by_id_[entry->id] = entry.get();
            woken_.push_back(entry->id);
            entries_[participant] = std::move(entry);
        }
        Signal();
    }

    void Detach(LoopParticipant* participant) {
        std::unique_lock lock(mutex_);
        auto found = entries_.find(participant);
        if (found == entries_.end()) return;
        Entry* entry = found->second.get();
        serviced_.wait(lock, [&] { return servicing_ != entry; });
        Remove(entry->socket_fd);
        Remove(entry->lookup_fd);
        by_id_.erase(entry->id);
        entries_.erase(found);
    }

    void Wake(LoopParticipant* participant) {
        {
            std::lock_guard lock(mutex_);
            auto found = entries_.find(participant);
            if (found == entries_.end()) return;
            woken_.push_back(found->second->id);
        }
        Signal();
    }

  private:
    struct Entry {
        LoopParticipant* participant = nullptr;
        uint64_t id = 0;
        int socket_fd = -1;  // as registered
        uint64_t socket_id = 0;
        uint32_t socket_events = 0;
        int lookup_fd = -1;
        uint64_t lookup_id = 0;
        uint64_t deadline_version = 0;  // only the newest deadline of an entry counts
        uint32_t ready_events = 0;      // collected for its next Service
        bool ready = false;
    };
    using Deadline = std::tuple<Clock::time_point, uint64_t /*id*/, uint64_t /*version*/>;

    void Signal() {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake_.get(), &one, sizeof one);
    }

    void Drain() {
        uint64_t count;
        while (::read(wake_.get(), &count, sizeof count) > 0) {
        }
    }

    void Control(int op, int fd, uint32_t events, uint64_t tag) {
        epoll_event event{};
        event.events = events;
        event.data.u64 = tag;
        ::epoll_ctl(epoll_.get(), op, fd, &event);
    }

    // Only for descriptors known to be open (see LoopParticipant::Wait).
    void Remove(int& fd) {
        if (fd >= 0) ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, fd, nullptr);
        fd = -1;
    }

    void Register(Entry& entry, const LoopParticipant::Wait& wait) {
        if (entry.socket_id != wait.socket_id) {
            entry.socket_fd = -1;  // closed by the participant: gone from the set with it
            entry.socket_id = wait.socket_id;
        } else if (entry.socket_fd != wait.socket_fd) {
            Remove(entry.socket_fd);  // still open, no longer waited for
        }
        if (wait.socket_fd >= 0 &&
            (entry.socket_fd != wait.socket_fd || entry.socket_events != wait.socket_events)) {
            Control(entry.socket_fd == wait.socket_fd ? EPOLL_CTL_MOD : EPOLL_CTL_ADD,
                    wait.socket_fd, wait.socket_events, Tag(entry.id, false));
        }
        entry.socket_fd = wait.socket_fd;
        entry.socket_events = wait.socket_fd >= 0 ? wait.socket_events : 0;
        if (entry.lookup_fd != wait.lookup_fd || entry.lookup_id != wait.lookup_id) {
            Remove(entry.lookup_fd);
            if (wait.lookup_fd >= 0)
                Control(EPOLL_CTL_ADD, wait.lookup_fd, EPOLLIN, Tag(entry.id, true));
            entry.lookup_fd = wait.lookup_fd;
            entry.lookup_id = wait.lookup_id;
        }
    }

    void MarkReady(uint64_t id, uint32_t events, std::vector<uint64_t>& ready) {
        auto found = by_id_.find(id);
        if (found == by_id_.end()) return;
        Entry& entry = *found->second;
        entry.ready_events |= events;
        if (!entry.ready) {
            entry.ready = true;
            ready.push_back(id);
        }
    }

    int WaitMs() {
        std::lock_guard lock(mutex_);
        if (!woken_.empty()) return 0;
        while (!deadlines_.empty()) {
            const auto& [when, id, version] = deadlines_.top();
            auto found = by_id_.find(id);
            if (found != by_id_.end() && found->second->deadline_version == version) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now());
                return static_cast<int>(std::clamp<int64_t>(left.count(), 0, 60'000));
            }
            deadlines_.pop();  // an older deadline of its entry, or of one that left
        }
        return 60'000;
    }

    void Run() {
        epoll_event events[kEventsPerWait];
        std::vector<uint64_t> ready;
        while (true) {
            const int n = ::epoll_wait(epoll_.get(), events, kEventsPerWait, WaitMs());
            ready.clear();
            {
                std::lock_guard lock(mutex_);
                if (stop_) return;
                for (int i = 0; i < n; ++i) {
                    const uint64_t tag = events[i].data.u64;
                    if (tag == Tag(kWakeId, false)) {
                        Drain();
                        continue;
                    }
                    const bool lookup = tag % 2;
                    MarkReady(tag / 2, lookup ? 0 : events[i].events, ready);
                }
                for (uint64_t id : woken_)
                    MarkReady(id, 0, ready);
                woken_.clear();
                const auto now = Clock::now();
                while (!deadlines_.empty() && std::get<0>(deadlines_.top()) <= now) {
                    const auto [when, id, version] = deadlines_.top();
                    deadlines_.pop();
                    auto found = by_id_.find(id);
                    if (found != by_id_.end() && found->second->deadline_version == version)
                        MarkReady(id, 0, ready);
                }
            }
            for (uint64_t id : ready)
                ServiceOne(id);
        }
    }

    void ServiceOne(uint64_t id) {
        Entry* entry;
        uint32_t events;
        {
            std::lock_guard lock(mutex_);
            auto found = by_id_.find(id);
            if (found == by_id_.end()) return;  // detached meanwhile
            entry = found->second;
            events = entry->ready_events;
            entry->ready_events = 0;
            entry->ready = false;
            servicing_ = entry;
        }
        const LoopParticipant::Wait wait = entry->participant->Service(events);
        {
            std::lock_guard lock(mutex_);
            servicing_ = nullptr;
            Register(*entry, wait);
            deadlines_.emplace(Clock::now() + std::max(wait.within, std::chrono::milliseconds(0)),
                               entry->id, ++entry->deadline_version);
        }
        serviced_.notify_all();
    }

    UniqueFd epoll_;
    UniqueFd wake_;
    std::mutex start_mutex_;
    bool started_ = false;  // guarded by start_mutex_
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable serviced_;
    bool stop_ = false;
    uint64_t last_id_ = 0;
    std::unordered_map<LoopParticipant*, std::unique_ptr<Entry>> entries_;
    std::unordered_map<uint64_t, Entry*> by_id_;
    std::vector<uint64_t> woken_;
    Entry* servicing_ = nullptr;
    std::priority_queue<Deadline, std::vector<Deadline>, std::greater<>> deadlines_;
};

ConnectionLoop& ConnectionLoop::Shared() {
    // Never destroyed: connections of static objects may still detach while
    // the process ends.
    static ConnectionLoop* loop = new ConnectionLoop(kDefaultThreads);
    return *loop;
}

ConnectionLoop::ConnectionLoop(size_t threads) {
    for (size_t i = 0; i < std::max<size_t>(threads, 1); ++i)
        workers_.push_back(std::make_unique<Worker>());
}

ConnectionLoop::~ConnectionLoop() = default;

ConnectionLoop::Worker* ConnectionLoop::WorkerOf(LoopParticipant* participant) {
    std::lock_guard lock(assigned_mutex_);
    auto found = assigned_.find(participant);
    return found == assigned_.end() ? nullptr : found->second;
}

// Participants go to the threads in turn.
bool ConnectionLoop::Attach(LoopParticipant* participant) {
    Worker* worker;
    {
        std::lock_guard lock(assigned_mutex_);
        worker = workers_[next_worker_++ % workers_.size()].get();
    }
    // The whole fixed set starts with the first connection, so the number of
    // threads does not grow later as connections come and go.
    for (const auto& each : workers_)
        if (each.get() != worker) each->EnsureStarted();
    if (!worker->EnsureStarted()) return false;
    {
        std::lock_guard lock(assigned_mutex_);
        assigned_[participant] = worker;
    }
    worker->Attach(participant);
    return true;
}

void ConnectionLoop::Detach(LoopParticipant* participant) {
    {
        std::lock_guard lock(turns_mutex_);
        std::erase(waiting_, participant);
    }
    if (Worker* worker = WorkerOf(participant)) {
        worker->Detach(participant);
        std::lock_guard lock(assigned_mutex_);
        assigned_.erase(participant);
    }
}

void ConnectionLoop::Wake(LoopParticipant* participant) {
    if (Worker* worker = WorkerOf(participant)) worker->Wake(participant);
}

bool ConnectionLoop::BeginAttempt(LoopParticipant* participant) {
    std::lock_guard lock(turns_mutex_);
    const auto queued = std::find(waiting_.begin(), waiting_.end(), participant);
    // Free attempts go to those who waited longest.
    const size_t ahead = size_t(std::distance(waiting_.begin(), queued));
    if (attempts_ + int(ahead) < kMaxConnectAttempts) {
        if (queued != waiting_.end()) waiting_.erase(queued);
        ++attempts_;
        return true;
    }
    if (queued == waiting_.end()) waiting_.push_back(participant);
    return false;
}

void ConnectionLoop::EndAttempt() {
    LoopParticipant* next = nullptr;
    {
        std::lock_guard lock(turns_mutex_);
        --attempts_;
        if (!waiting_.empty()) next = waiting_.front();
    }
    if (next) Wake(next);
}

int ConnectionLoop::attempts() const {
    std::lock_guard lock(turns_mutex_);
    return attempts_;
}

}  // namespace halvorin
