// One TLS connection over a connected, non-blocking TCP socket: the
// handshake in steps, then reads and writes with the contract of recv() and
// send() with MSG_DONTWAIT, so the code around the socket keeps its shape.
//
// Threads: every call takes the session's own lock, so one thread may read
// while another writes (the agent's receiver and its workers do); OpenSSL
// does not allow that on one connection without it. The socket is not owned
// and must outlive the session.
#pragma once

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <string>

#include "net/tls/tls_context.h"

typedef struct ssl_st SSL;

namespace halvorin {

class TlsSession {
  public:
    // expected_host: for a manager, the name or address it dialled, which the
    // agent's certificate must carry; ignored for the agent. Null with
    // `error` set when the session cannot be made.
    static std::unique_ptr<TlsSession> Create(std::shared_ptr<const TlsContext> context, int fd,
                                              const std::string& expected_host, std::string& error);
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    enum class Step { kDone, kWantRead, kWantWrite, kFailed };
    // Goes as far as the socket allows; kFailed leaves the reason in error().
    Step Handshake();
    bool HandshakeDone() const;

    // > 0 bytes, 0 when the peer closed, -1 with errno EAGAIN when nothing can
    // move now, -1 with errno EPROTO on a TLS failure (error() says which).
    ssize_t Receive(void* data, size_t size);
    ssize_t Send(const void* data, size_t size);
    // Decrypted bytes wait inside the session, where poll() cannot see them.
    bool HasBufferedInput() const;

    // The verified peer certificate's subject ("CN=mgr1,O=Site"), and its
    // common name alone; empty before the handshake or without a certificate.
    std::string PeerSubject() const;
    std::string PeerCommonName() const;
    std::string error() const;

  private:
    TlsSession(std::shared_ptr<const TlsContext> context, SSL* ssl);
    void NoteFailure(int ssl_error);

    std::shared_ptr<const TlsContext> context_;
    mutable std::mutex mutex_;
    SSL* ssl_;
    bool handshake_done_ = false;
    std::string error_;
};

}  // namespace halvorin
