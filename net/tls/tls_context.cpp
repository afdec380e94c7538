#include "net/tls/tls_context.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace halvorin {

namespace {

bool Fail(SSL_CTX* context, std::string& error, const std::string& what) {
    const std::string detail = TakeTlsErrorText();
    error = detail.empty() ? what : what + ": " + detail;
    SSL_CTX_free(context);
    return false;
}

bool LoadOwnCertificate(SSL_CTX* context, const TlsFiles& files, std::string& error) {
    if (SSL_CTX_use_certificate_chain_file(context, files.cert.c_str()) != 1)
        return Fail(context, error, "cannot use certificate " + files.cert);
    if (SSL_CTX_use_PrivateKey_file(context, files.key.c_str(), SSL_FILETYPE_PEM) != 1)
        return Fail(context, error, "cannot use private key " + files.key);
    if (SSL_CTX_check_private_key(context) != 1)
        return Fail(context, error, "key " + files.key + " does not match " + files.cert);
    return true;
}

bool LoadTrustedCa(SSL_CTX* context, const std::string& ca, TlsRole role, std::string& error) {
    if (SSL_CTX_load_verify_locations(context, ca.c_str(), nullptr) != 1)
        return Fail(context, error, "cannot read CA certificates " + ca);
    if (role == TlsRole::kAgent) {
        // Tells managers which CA to pick their certificate from.
        STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(ca.c_str());
        if (names == nullptr) return Fail(context, error, "no CA certificate in " + ca);
        SSL_CTX_set_client_CA_list(context, names);
    }
    return true;
}

bool CheckFilesForRole(TlsRole role, const TlsFiles& files, std::string& error) {
    if (files.cert.empty() != files.key.empty()) {
        error = "a certificate needs its key, and a key its certificate";
        return false;
    }
    if (role == TlsRole::kAgent && (files.cert.empty() || files.ca.empty())) {
        error = "the agent needs its certificate, its key and the managers' CA";
        return false;
    }
    if (role == TlsRole::kManager && files.ca.empty()) {
        error = "a manager needs the CA of the agents' certificates";
        return false;
    }
    return true;
}

}  // namespace

std::string TakeTlsErrorText() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return {};
    const char* reason = ERR_reason_error_string(code);
    return reason ? reason : "error " + std::to_string(code);
}

std::shared_ptr<const TlsContext> TlsContext::Create(TlsRole role, const TlsFiles& files,
                                                     std::string& error) {
    if (!CheckFilesForRole(role, files, error)) return nullptr;
    ERR_clear_error();
    SSL_CTX* context =
        SSL_CTX_new(role == TlsRole::kAgent ? TLS_server_method() : TLS_client_method());
    if (context == nullptr) {
        Fail(nullptr, error, "cannot create a TLS context");
        return nullptr;
    }
    // Both ends are ours: TLS 1.3 only, which also rules out renegotiation.
    SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION);
    // Partial writes keep send()'s contract: the caller resends the rest.
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // Connections are long-lived and never resumed.
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_num_tickets(context, 0);
    if (!files.cert.empty() && !LoadOwnCertificate(context, files, error)) return nullptr;
    if (!LoadTrustedCa(context, files.ca, role, error)) return nullptr;
    const int verify = role == TlsRole::kAgent ? SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT
                                               : SSL_VERIFY_PEER;
    SSL_CTX_set_verify(context, verify, nullptr);
    return std::shared_ptr<const TlsContext>(new TlsContext(role, context));
}

TlsContext::~TlsContext() {
    SSL_CTX_free(context_);
}

}  // namespace halvorin
