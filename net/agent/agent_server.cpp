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

// Connections are accepted as they come and wait in our own bounded list, so
// the kernel's queue only has to cover one round of the receiver.
constexpr int kListenBacklog = 16;

AgentOptions WithDefaults(AgentOptions options) {
    if (options.computer_name.empty()) options.computer_name = FullComputerName();
    if (options.own_names.empty()) {
        options.own_names = {FullComputerName(), ManagerComputerName()};
    }
    return options;
}

int WaitMs(std::chrono::milliseconds interval) {
    return static_cast<int>(interval.count());
}

}  // namespace

AgentServer::AgentServer(ScsiTransport& transport, AgentOptions options)
    : transport_(transport),
      options_(WithDefaults(std::move(options))),
      catalog_(transport, options_.rescan_interval),
      executor_(transport, catalog_),
      authorization_(options_.own_names, options_.accept_claimed_names),
      workers_(options_.max_in_flight, options_.worker_idle) {}

AgentServer::~AgentServer() {
    Stop();
    // workers_ goes before the rest of this object and joins every worker,
    // those Stop() left in the kernel included: they use this object.
}

// Binds every listen address. With the default addresses an unusable IPv6
// (a host without it) is tolerated; addresses the administrator named must
// all be bound. With port 0 the first socket's port is used for the others.
bool AgentServer::OpenListeners() {
    std::vector<UniqueFd> opened;
    std::vector<sockaddr_storage> addresses = listen_addresses_;
    for (sockaddr_storage& address : addresses) {
        if (PortOf(address) == 0 && !opened.empty()) SetPort(address, bound_port_);
        std::string error;
        UniqueFd fd = OpenListenSocket(address, kListenBacklog, error);
        if (!fd.valid()) {
            if (options_.listen.empty() && address.ss_family == AF_INET6) {
                Log(error + " (IPv6 not served)");
                continue;
            }
            start_error_ = error;
            return false;
        }
        if (opened.empty()) {
            sockaddr_storage bound{};
            socklen_t length = sizeof bound;
            ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&bound), &length);
            bound_port_ = PortOf(bound);
        }
        SetPort(address, bound_port_ && PortOf(address) == 0 ? bound_port_ : PortOf(address));
        opened.push_back(std::move(fd));
    }
    if (opened.empty()) {
        start_error_ = "no address to listen on";
        return false;
    }
    listeners_ = std::move(opened);
    listen_addresses_ = std::move(addresses);
    return true;
}

void AgentServer::LogRules() const {
    std::string listening;
    for (const sockaddr_storage& address : listen_addresses_)
        listening += (listening.empty() ? "" : ", ") + SocketAddressText(address);
    const std::string tls = tls_ ? "TLS on, managers need a certificate from " + options_.tls.ca
                                 : std::string("TLS off");
    Log("agent listening on " + listening + "; " + authorization_.RulesText() + "; " + tls +
        "; up to " + std::to_string(options_.max_managers) + " managers at once");
}

int AgentServer::Start() {
    if (started_) return kOk;
    start_error_.clear();
    if (!wakeup_.valid() || !backlog_changed_.valid()) {
        start_error_ = "cannot create the wake-up descriptor";
        return kNoResource;
    }
    auto addresses = ParseListenAddresses(options_.listen, options_.port, start_error_);
    if (!addresses) return kNoResource;
    listen_addresses_ = std::move(*addresses);
    if (options_.tls.Any()) {
        tls_ = TlsContext::Create(TlsRole::kAgent, options_.tls, start_error_);
        if (!tls_) return kNoResource;
    }
    if (!OpenListeners()) return kNoResource;
    try {
        sender_ = std::jthread([this](std::stop_token stop) { SenderLoop(stop); });
        receiver_ = std::jthread([this](std::stop_token stop) { ReceiverLoop(stop); });
    } catch (const std::system_error& error) {
        start_error_ = std::string("cannot start a thread: ") + error.what();
        sender_ = {};  // requests stop and joins
        listeners_.clear();
        return kNoResource;
    }
    started_ = true;
    LogRules();
    return kOk;
}

size_t AgentServer::Stop() {
    if (!started_) return 0;
    receiver_.request_stop();
    sender_.request_stop();
    wakeup_.Signal();
    backlog_changed_.Signal();
    receiver_.join();
    sender_.join();
    listeners_.clear();
    const size_t busy = workers_.Stop(options_.stop_grace);
    {
        std::lock_guard lock(backlog_mutex_);
        backlog_.clear();
    }
    started_ = false;
    if (busy > 0)
        Log("agent stopped; " + std::to_string(busy) + " command(s) still running in the kernel");
    else
        Log("agent stopped");
    return busy;
}

int AgentServer::SetAuthorized(std::vector<std::u16string> entries) {
    authorization_.SetAuthorized(std::move(entries));
    return kOk;
}

void AgentServer::SetNotify(ServerNotifyFn fn, void* context) {
    authorization_.SetNotify(fn, context);
}

// ---- receiver ------------------------------------------------------------

void AgentServer::ReceiverLoop(std::stop_token stop) {
    while (!stop.stop_requested()) {
        if (listeners_.empty() && !OpenListeners()) {
            // Try again each round until the ports can be bound again.
            pollfd wake{wakeup_.fd(), POLLIN, 0};
            ::poll(&wake, 1, WaitMs(options_.wait_interval));
            wakeup_.Drain();
            continue;
        }
        try {
            ReceiveRound(stop);
        } catch (const std::bad_alloc&) {
            // Only the connection being read can have asked for the memory.
            if (reading_) Drop(*reading_, "out of memory");
            std::erase_if(served_, [](const Served& s) { return s.connection->IsDropped(); });
            waiting_.clear();
        }
        reading_ = nullptr;
    }
    for (Served& s : served_)
        Drop(s, "agent stopping");
    served_.clear();
    for (Waiting& w : waiting_)
        w.connection->Shutdown();
    waiting_.clear();
    for (Closing& c : closing_)
        c.connection->Shutdown();
    closing_.clear();
}

// Refused connections are shut down once their refusal had its moment.
void AgentServer::CloseRefused(std::chrono::steady_clock::time_point now) {
    while (!closing_.empty() && closing_.front().at <= now) {
        // What the peer sent meanwhile is read first: closing with unread
        // data would reset the connection, and the peer lose our last words.
        closing_.front().connection->DiscardInput();
        closing_.front().connection->Shutdown();
        closing_.pop_front();
    }
}

int AgentServer::ReceiveWaitMs(std::chrono::steady_clock::time_point now) const {
    auto wait = options_.wait_interval;
    if (!closing_.empty()) {
        const auto until = std::chrono::ceil<std::chrono::milliseconds>(closing_.front().at - now);
        wait = std::clamp(until, std::chrono::milliseconds(0), wait);
    }
    return WaitMs(wait);
}

// One wait on everything: the listeners, the served managers and the
// connections that wait, each on its own deadline.
void AgentServer::ReceiveRound(std::stop_token stop) {
    ApplyNameChecks();
    PromoteWaiting();
    std::vector<pollfd> fds = {{wakeup_.fd(), POLLIN, 0}};
    for (const UniqueFd& listener : listeners_)
        fds.push_back({listener.get(), POLLIN, 0});
    std::vector<const AgentConnection*> readers(fds.size(), nullptr);
    auto watch = [&](const AgentConnection& connection, short events) {
        fds.push_back({connection.fd(), events, 0});
        readers.push_back(&connection);
    };
    const size_t first_served = fds.size();
    for (const Served& s : served_)
        watch(*s.connection, POLLIN);
    const size_t first_waiting = fds.size();
    for (const Waiting& w : waiting_)
        watch(*w.connection, WaitingEvents(w));
    // What TLS has already decrypted is read as if the socket had it.
    auto buffered = [&](size_t i) {
        return readers[i] && (fds[i].events & POLLIN) && readers[i]->HasBufferedInput();
    };
    bool any_buffered = false;
    for (size_t i = first_served; i < fds.size() && !any_buffered; ++i)
        any_buffered = buffered(i);
    const int wait_ms = any_buffered ? 0 : ReceiveWaitMs(std::chrono::steady_clock::now());
    const int ready = ::poll(fds.data(), fds.size(), wait_ms);
    if (fds[0].revents) wakeup_.Drain();
    for (size_t i = first_served; any_buffered && i < fds.size(); ++i)
        if (buffered(i)) fds[i].revents |= POLLIN;
    if (stop.stop_requested()) return;
    if (ready < 0 && errno != EINTR) {
        listeners_.clear();  // re-created next round
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    CloseRefused(now);
    // Waiting connections first: accepting may push the oldest out.
    for (size_t i = waiting_.size(); i-- > 0;)
        ServeWaiting(waiting_[i], fds[first_waiting + i].revents, now);
    std::erase_if(waiting_, [](const Waiting& w) { return w.leaving; });
    size_t index = first_served;
    for (Served& s : served_) {
        reading_ = &s;
        ServeConnection(s, fds[index++].revents, now);
    }
    reading_ = nullptr;
    std::erase_if(served_, [](const Served& s) { return s.connection->IsDropped(); });
    for (size_t i = 0; i < listeners_.size(); ++i) {
        const short revents = fds[1 + i].revents;
        if (revents & (POLLERR | POLLNVAL)) {
            listeners_.clear();  // re-created next round
            return;
        }
        if (revents & POLLIN) {
            for (size_t n = 0; n <= options_.max_waiting && AcceptOne(listeners_[i].get()); ++n) {
            }
        }
    }
}

// ---- sender --------------------------------------------------------------

// Sends what the sockets did not take at once. A reply that cannot go out
// for send_stall_waits waits (the manager stopped reading) ends its connection.
void AgentServer::SenderLoop(std::stop_token stop) {
    std::vector<std::shared_ptr<AgentConnection>> pending;
    while (!stop.stop_requested()) {
        {
            std::lock_guard lock(backlog_mutex_);
            pending.insert(pending.end(), backlog_.begin(), backlog_.end());
            backlog_.clear();
        }
        std::vector<pollfd> fds = {{backlog_changed_.fd(), POLLIN, 0}};
        for (const auto& c : pending)
            fds.push_back({c->fd(), POLLOUT, 0});
        ::poll(fds.data(), fds.size(), WaitMs(options_.wait_interval));
        if (fds[0].revents) backlog_changed_.Drain();
        if (stop.stop_requested()) break;
        const auto now = std::chrono::steady_clock::now();
        const auto stall_limit = options_.wait_interval * options_.send_stall_waits;
        for (size_t i = 0; i < pending.size(); ++i) {
            AgentConnection& c = *pending[i];
            std::lock_guard lock(c.send_mutex);
            bool failed = c.IsDropped() || c.IsShutDown();
            if (!failed && (fds[i + 1].revents & (POLLOUT | POLLERR | POLLHUP)))
                failed = !SendUnsentLocked(c);
            if (!failed && !c.unsent.empty() && now - c.last_send_progress >= stall_limit) {
                Log(LogPriority::kWarning, "send stalled or failed to " + c.PeerText());
                failed = true;
            }
            if (failed) {
                DiscardUnsentLocked(c);
                c.Shutdown();  // the receiver sees it and drops the connection
            }
        }
        std::erase_if(pending, [](const std::shared_ptr<AgentConnection>& c) {
            std::lock_guard lock(c->send_mutex);
            return c->unsent.empty();
        });
    }
}

}  // namespace halvorin
