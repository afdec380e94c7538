// One accepted manager connection. The receiver, the sender, the workers and
// the authorisation code each hold a shared reference while they use it; other
// threads only ever shut the socket down, and the descriptor is closed when
// the last reference goes. So no thread can use a closed descriptor, or one
// that the system has already handed to the next connection.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "net/tls/tls_session.h"

namespace halvorin {

class AgentConnection {
  public:
    AgentConnection(UniqueFd socket, uint64_t id, const sockaddr_storage& peer, bool peer_is_local);

    // Speaks TLS from now on; set by the receiver before anyone else holds it.
    void UseTls(std::unique_ptr<TlsSession> session) { tls_ = std::move(session); }
    TlsSession* tls() const { return tls_.get(); }
    // A plain connection, or a TLS one whose handshake has finished.
    bool Open() const { return !tls_ || tls_->HandshakeDone(); }

    // recv() and send() with MSG_DONTWAIT, through TLS when it is on.
    ssize_t Receive(void* data, size_t size);
    ssize_t Send(const void* data, size_t size);
    // Received bytes wait in the TLS session, where poll() cannot see them.
    bool HasBufferedInput() const { return tls_ && tls_->HasBufferedInput(); }

    int fd() const { return socket_.get(); }
    uint64_t id() const { return id_; }
    const sockaddr_storage& peer() const { return peer_; }
    bool peer_is_local() const { return peer_is_local_; }
    std::string PeerText() const;
    // Who the manager is, for the logs: its certificate's subject under TLS,
    // the name its hello gave otherwise.
    std::string ManagerText() const;
    // Its certificate names `name` (as the common name).
    bool CertificateNames(const std::u16string& name) const;

    // Reads and forgets what has arrived on the socket (not through TLS).
    void DiscardInput();
    // Ends traffic in both directions; the receiver then sees the closed
    // stream and drops the connection. Safe from any thread, any number of times.
    void Shutdown();
    bool IsShutDown() const { return shut_down_.load(); }

    // Dropped: no longer the agent's connection; its replies are discarded.
    void MarkDropped() { dropped_ = true; }
    bool IsDropped() const { return dropped_.load(); }

    // Set once a hello was authorised; requests are served only after that.
    std::atomic<bool> authorized{false};
    // The name its hello gave; written before `authorized` is set, read after.
    std::u16string manager_name;
    // An enumeration of this connection is running; a second one gets no reply.
    std::atomic<bool> enumerating{false};
    // Set once the connection was refused; nothing more is served on it.
    std::atomic<bool> refused{false};
    // Requests in execution plus replies queued for this connection.
    std::atomic<size_t> in_flight{0};

    // Replies the socket did not take at once, oldest first; the first may be
    // partly sent. Whoever sends (a worker, the receiver or the sender
    // thread) holds send_mutex, so replies never interleave.
    std::mutex send_mutex;
    std::deque<std::vector<uint8_t>> unsent;
    size_t unsent_offset = 0;
    std::chrono::steady_clock::time_point last_send_progress;

  private:
    UniqueFd socket_;
    std::unique_ptr<TlsSession> tls_;  // declared after the socket: freed before it
    const uint64_t id_;
    const sockaddr_storage peer_;
    const bool peer_is_local_;
    std::atomic<bool> shut_down_{false};
    std::atomic<bool> dropped_{false};
};

// Whether a peer address belongs to this host: loopback, or one of the
// addresses of its own interfaces.
bool IsLocalPeer(const sockaddr_storage& peer);

}  // namespace halvorin
