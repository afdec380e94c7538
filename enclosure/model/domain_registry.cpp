#include "enclosure/model/domain_registry.h"

#include <algorithm>
#include <new>

#include "base/utf16.h"
#include "enclosure/model/model_counts.h"

namespace halvorin {

// Every domain of a registry announces finished requests on one signal, so
// the owner sleeps on one descriptor however many hosts it follows.
DomainRegistry::DomainRegistry(ClientOptions options) : options_(std::move(options)) {
    if (!options_.completions) options_.completions = std::make_shared<CompletionSignal>();
}

DomainRegistry::~DomainRegistry() {
    ReleaseAll();
}

void RetainDomain(CSesDomain* domain) {
    std::lock_guard lock(domain->registry->global_lock_);
    ++ModelCounts::Refs(*domain);
}

void ReleaseDomain(CSesDomain* domain) {
    DomainRegistry* registry = domain->registry;
    {
        std::lock_guard lock(registry->global_lock_);
        if (--ModelCounts::Refs(*domain) > 0) return;
        auto& list = registry->domains_;
        list.erase(std::remove(list.begin(), list.end(), domain), list.end());
    }
    // No device is left (each would hold a reference), so only the connection
    // needs ending; its handlers have run when it stopped.
    domain->client.Stop();
    delete domain;
}

void DomainRegistry::UseTls(std::shared_ptr<const TlsContext> context, std::u16string plain_host) {
    options_.tls = std::move(context);
    plain_host_ = std::move(plain_host);
}

CSesDomain* DomainRegistry::Acquire(const std::u16string& name) {
    auto find = [&]() -> CSesDomain* {
        for (CSesDomain* d : domains_) {
            if (d->host_name == name) {
                ++ModelCounts::Refs(*d);
                return d;
            }
        }
        return nullptr;
    };
    {
        std::lock_guard lock(global_lock_);
        if (CSesDomain* existing = find()) return existing;
    }
    ClientOptions options = options_;
    if (EqualsIgnoreCase(name, plain_host_)) options.tls = nullptr;
    std::unique_ptr<CSesDomain> fresh(new (std::nothrow) CSesDomain(this, name, options));
    if (!fresh || fresh->client.Start() != kOk) return nullptr;
    {
        std::lock_guard lock(global_lock_);
        if (CSesDomain* existing = find()) {
            // Another caller registered the name meanwhile; the new one goes.
            fresh->client.Stop();
            return existing;
        }
        ++ModelCounts::Refs(*fresh);  // one for the registry, one for the caller
        domains_.push_back(fresh.get());
    }
    return fresh.release();
}

void DomainRegistry::Stop(CSesDomain* domain) {
    domain->client.Stop();  // every pending handler runs once with -15
    for (const Ref<CSesDev>& device : SnapshotDevices(domain)) {
        MarkDeviceRemoved(device.get());
        ReleaseDevice(device.get());  // the domain array's reference
    }
}

int DomainRegistry::Remove(CSesDomain* domain) {
    {
        std::lock_guard lock(global_lock_);
        auto it = std::find(domains_.begin(), domains_.end(), domain);
        if (it == domains_.end()) return kNotFound;
        domains_.erase(it);
    }
    Stop(domain);
    ReleaseDomain(domain);
    return kOk;
}

std::vector<Ref<CSesDomain>> DomainRegistry::Snapshot() {
    std::vector<Ref<CSesDomain>> snapshot;
    std::lock_guard lock(global_lock_);
    for (CSesDomain* d : domains_) {
        ++ModelCounts::Refs(*d);
        snapshot.push_back(Ref<CSesDomain>::Adopt(d));
    }
    return snapshot;
}

void DomainRegistry::ReleaseAll() {
    std::vector<CSesDomain*> all;
    {
        std::lock_guard lock(global_lock_);
        all.swap(domains_);
    }
    for (CSesDomain* domain : all) {
        Stop(domain);
        ReleaseDomain(domain);
    }
}

int DomainRegistry::RequestEnumeration(CSesDomain* domain, DeviceListHandler handler) {
    if (domain->request_flags & kEnumerationOutstanding) return kBusy;
    if (domain->client.state() == kStateClosed) return kClosing;
    RetainDomain(domain);
    domain->request_flags |= kEnumerationOutstanding;
    const int result = domain->client.Enqueue(
        MSG_ENUM_DEVICES, {}, kEnumerationTimeout,
        [domain, handler = std::move(handler)](std::span<const uint8_t> payload, int result) {
            domain->request_flags &= ~kEnumerationOutstanding;
            if (result >= 0 && handler) handler(domain, DecodeDeviceList(payload));
            ReleaseDomain(domain);
        });
    if (result < 0) {
        domain->request_flags &= ~kEnumerationOutstanding;
        ReleaseDomain(domain);
    }
    return result;
}

DomainRegistry& ProcessRegistry() {
    static DomainRegistry registry;
    return registry;
}

}  // namespace halvorin
