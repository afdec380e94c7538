// The process's managed hosts. The registry owns the CSesDomain objects by
// counted references (the tree, the poll step and pending requests hold
// their own) under its ModelGlobalLock, which guards the list and every
// domain's reference count. Domains are destroyed outside that lock.
#pragma once

#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "enclosure/model/ref.h"
#include "enclosure/model/ses_domain.h"

namespace halvorin {

// What to do with the device list of a host.
using DeviceListHandler = std::function<void(CSesDomain* domain, const DeviceList& list)>;

inline constexpr int kEnumerationTimeout = 10;

void RetainDomain(CSesDomain* domain);
// At zero the domain leaves its registry's list and is destroyed.
void ReleaseDomain(CSesDomain* domain);

class DomainRegistry {
  public:
    explicit DomainRegistry(ClientOptions options = {});
    ~DomainRegistry();  // ReleaseAll
    DomainRegistry(const DomainRegistry&) = delete;
    DomainRegistry& operator=(const DomainRegistry&) = delete;

    // The registered domain of that name (compared exactly), or a new one with
    // its connection started; either way with one reference for the caller.
    // Nothing when the domain could not be created.
    CSesDomain* Acquire(const std::u16string& name);
    // Takes the domain out of the list, stops it (every pending request ends
    // with -15, its devices are removed) and drops the registry's reference.
    int Remove(CSesDomain* domain);
    void Release(CSesDomain* domain) { ReleaseDomain(domain); }

    // Every registered domain.
    std::vector<Ref<CSesDomain>> Snapshot();
    // Stops and releases every domain (application exit).
    void ReleaseAll();

    // Asks the domain's agent for its device list; at most one at a time per
    // domain (-17), -15 while the connection is closing. The handler runs on
    // the poll thread with the list of a successful reply.
    int RequestEnumeration(CSesDomain* domain, DeviceListHandler handler);

    std::mutex& global_lock() { return global_lock_; }
    const ClientOptions& options() const { return options_; }
    // Connections to every host but `plain_host` (this program's own agent,
    // over loopback) speak TLS with the context. Before the first Acquire.
    void UseTls(std::shared_ptr<const TlsContext> context, std::u16string plain_host);
    // Readable while any domain's client has finished requests waiting; Take
    // says which.
    CompletionSignal& completions() { return *options_.completions; }

  private:
    friend void ReleaseDomain(CSesDomain* domain);
    friend void RetainDomain(CSesDomain* domain);
    static void Stop(CSesDomain* domain);

    ClientOptions options_;
    std::u16string plain_host_;  // spoken to without TLS when options_.tls is set
    std::mutex global_lock_;     // ModelGlobalLock
    std::vector<CSesDomain*> domains_;
};

// The registry of this process.
DomainRegistry& ProcessRegistry();

}  // namespace halvorin
