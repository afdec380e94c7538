#include "net/tls/tls_session.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <memory>

namespace halvorin {

namespace {

// OpenSSL's own socket BIO writes with write(), which raises SIGPIPE on a
// closed connection, and blocks on a blocking socket. Ours never does either.
int Descriptor(BIO* bio) {
    return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
}

int SocketWrite(BIO* bio, const char* data, int length) {
    BIO_clear_retry_flags(bio);
    const ssize_t n =
        ::send(Descriptor(bio), data, static_cast<size_t>(length), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        BIO_set_retry_write(bio);
    return static_cast<int>(n);
}

int SocketRead(BIO* bio, char* data, int length) {
    BIO_clear_retry_flags(bio);
    const ssize_t n = ::recv(Descriptor(bio), data, static_cast<size_t>(length), MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        BIO_set_retry_read(bio);
    return static_cast<int>(n);
}

long SocketControl(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

BIO_METHOD* SocketMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "halvorin socket");
        if (m == nullptr) return m;
        BIO_meth_set_write(m, SocketWrite);
        BIO_meth_set_read(m, SocketRead);
        BIO_meth_set_ctrl(m, SocketControl);
        return m;
    }();
    return method;
}

bool ExpectHost(SSL* ssl, const std::string& host) {
    in6_addr scratch{};
    const bool literal = ::inet_pton(AF_INET, host.c_str(), &scratch) == 1 ||
                         ::inet_pton(AF_INET6, host.c_str(), &scratch) == 1;
    if (literal) return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str()) == 1;
    SSL_set_tlsext_host_name(ssl, host.c_str());
    return SSL_set1_host(ssl, host.c_str()) == 1;
}

std::string NameText(const X509_NAME* name) {
    std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), BIO_free);
    if (!out) return {};
    X509_NAME_print_ex(out.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long length = BIO_get_mem_data(out.get(), &data);
    return length > 0 ? std::string(data, static_cast<size_t>(length)) : std::string();
}

}  // namespace

std::unique_ptr<TlsSession> TlsSession::Create(std::shared_ptr<const TlsContext> context, int fd,
                                               const std::string& expected_host,
                                               std::string& error) {
    ERR_clear_error();
    SSL* ssl = SSL_new(context->native());
    BIO* bio = SocketMethod() ? BIO_new(SocketMethod()) : nullptr;
    if (ssl == nullptr || bio == nullptr) {
        BIO_free(bio);
        SSL_free(ssl);
        error = "cannot create a TLS session";
        return nullptr;
    }
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl, bio, bio);
    if (context->role() == TlsRole::kAgent) {
        SSL_set_accept_state(ssl);
    } else {
        SSL_set_connect_state(ssl);
        if (!expected_host.empty() && !ExpectHost(ssl, expected_host)) {
            SSL_free(ssl);
            error = "cannot check the agent's certificate for " + expected_host;
            return nullptr;
        }
    }
    return std::unique_ptr<TlsSession>(new TlsSession(std::move(context), ssl));
}

TlsSession::TlsSession(std::shared_ptr<const TlsContext> context, SSL* ssl)
    : context_(std::move(context)), ssl_(ssl) {}

TlsSession::~TlsSession() {
    SSL_free(ssl_);
}

// Prefers the certificate check's verdict, which says what was wrong with
// the certificate, to the handshake's generic failure.
void TlsSession::NoteFailure(int ssl_error) {
    const long verdict = SSL_get_verify_result(ssl_);
    std::string detail = TakeTlsErrorText();
    if (verdict != X509_V_OK) {
        detail = X509_verify_cert_error_string(verdict);
    } else if (detail.empty()) {
        detail = ssl_error == SSL_ERROR_SYSCALL
                     ? "the peer closed the connection during the TLS handshake"
                     : "TLS error " + std::to_string(ssl_error);
    }
    error_ = detail;
}

TlsSession::Step TlsSession::Handshake() {
    std::lock_guard lock(mutex_);
    if (handshake_done_) return Step::kDone;
    ERR_clear_error();
    const int rc = SSL_do_handshake(ssl_);
    if (rc == 1) {
        handshake_done_ = true;
        return Step::kDone;
    }
    const int ssl_error = SSL_get_error(ssl_, rc);
    if (ssl_error == SSL_ERROR_WANT_READ) return Step::kWantRead;
    if (ssl_error == SSL_ERROR_WANT_WRITE) return Step::kWantWrite;
    NoteFailure(ssl_error);
    return Step::kFailed;
}

bool TlsSession::HandshakeDone() const {
    std::lock_guard lock(mutex_);
    return handshake_done_;
}

ssize_t TlsSession::Receive(void* data, size_t size) {
    std::lock_guard lock(mutex_);
    ERR_clear_error();
    size_t read = 0;
    if (SSL_read_ex(ssl_, data, size, &read) == 1) return static_cast<ssize_t>(read);
    const int ssl_error = SSL_get_error(ssl_, 0);
    switch (ssl_error) {
        case SSL_ERROR_WANT_READ:
        case SSL_ERROR_WANT_WRITE:
            errno = EAGAIN;
            return -1;
        case SSL_ERROR_ZERO_RETURN:
            return 0;
        case SSL_ERROR_SYSCALL:
            if (ERR_peek_error() == 0) return 0;  // closed without a TLS goodbye
            [[fallthrough]];
        default:
            NoteFailure(ssl_error);
            errno = EPROTO;
            return -1;
    }
}

ssize_t TlsSession::Send(const void* data, size_t size) {
    std::lock_guard lock(mutex_);
    ERR_clear_error();
    size_t written = 0;
    if (SSL_write_ex(ssl_, data, size, &written) == 1) return static_cast<ssize_t>(written);
    const int ssl_error = SSL_get_error(ssl_, 0);
    if (ssl_error == SSL_ERROR_WANT_READ || ssl_error == SSL_ERROR_WANT_WRITE) {
        errno = EAGAIN;
        return -1;
    }
    NoteFailure(ssl_error);
    errno = ssl_error == SSL_ERROR_SYSCALL ? EPIPE : EPROTO;
    return -1;
}

bool TlsSession::HasBufferedInput() const {
    std::lock_guard lock(mutex_);
    return SSL_pending(ssl_) > 0;
}

std::string TlsSession::PeerSubject() const {
    std::lock_guard lock(mutex_);
    const X509* peer = SSL_get0_peer_certificate(ssl_);
    return peer ? NameText(X509_get_subject_name(peer)) : std::string();
}

std::string TlsSession::PeerCommonName() const {
    std::lock_guard lock(mutex_);
    const X509* peer = SSL_get0_peer_certificate(ssl_);
    if (peer == nullptr) return {};
    char name[256] = {};
    const int length =
        X509_NAME_get_text_by_NID(X509_get_subject_name(peer), NID_commonName, name, sizeof name);
    return length > 0 ? std::string(name, static_cast<size_t>(length)) : std::string();
}

std::string TlsSession::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

}  // namespace halvorin
