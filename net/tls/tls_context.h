// The certificates one end of a TLS connection uses, loaded once from PEM
// files. The agent's context demands a certificate from every manager and
// checks it against the client CA; a manager's context checks the agent's
// certificate against its CA and the host name it dialled, and shows its own
// certificate when it has one.
//
// A context is immutable once made and shared by every session of its end.
#pragma once

#include <memory>
#include <string>

typedef struct ssl_ctx_st SSL_CTX;

namespace halvorin {

// PEM files. For the agent: its certificate and key, and the CA whose
// certificates managers must show. For a manager: the CA of the agents'
// certificates, and its own certificate and key.
struct TlsFiles {
    std::string ca;
    std::string cert;
    std::string key;

    bool Any() const { return !ca.empty() || !cert.empty() || !key.empty(); }
};

enum class TlsRole { kAgent, kManager };

class TlsContext {
  public:
    // Null, with `error` saying which file or setting is wrong, when the
    // files do not make a working context.
    static std::shared_ptr<const TlsContext> Create(TlsRole role, const TlsFiles& files,
                                                    std::string& error);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    TlsRole role() const { return role_; }
    SSL_CTX* native() const { return context_; }

  private:
    TlsContext(TlsRole role, SSL_CTX* context) : role_(role), context_(context) {}

    TlsRole role_;
    SSL_CTX* context_;
};

// The first OpenSSL error queued on this thread, as text; clears the queue.
std::string TakeTlsErrorText();

}  // namespace halvorin
