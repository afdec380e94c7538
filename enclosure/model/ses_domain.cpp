#include "enclosure/model/ses_domain.h"

#include <algorithm>
#include <new>

#include "base/utf16.h"
#include "enclosure/model/domain_registry.h"
#include "enclosure/model/model_counts.h"

namespace halvorin {

CSesDomain::CSesDomain(DomainRegistry* owner, std::u16string name, const ClientOptions& options)
    : registry(owner),
      host_name(std::move(name)),
      clock(*options.clock),
      device_list_deadline(options.clock->NowSeconds()),
      last_full_refresh(options.clock->NowSeconds()),
      client(Utf16ToUtf8(host_name), options) {}

CSesDomain::~CSesDomain() = default;

CSesDev* AcquireDevice(CSesDomain* domain, const DeviceId& id) {
    std::lock_guard lock(domain->device_lock);
    for (CSesDev* device : domain->devices) {
        if (device->Identifier() == id && !device->IsRemoved()) {
            ++ModelCounts::Refs(*device);
            return device;
        }
    }
    return nullptr;
}

void RetainDevice(CSesDev* device) {
    std::lock_guard lock(device->domain->device_lock);
    ++ModelCounts::Refs(*device);
}

void ReleaseDevice(CSesDev* device) {
    CSesDomain* domain = device->domain;
    {
        std::lock_guard lock(domain->device_lock);
        if (--ModelCounts::Refs(*device) > 0) return;
        auto& devices = domain->devices;
        devices.erase(std::find(devices.begin(), devices.end(), device));
    }
    delete device;
    ReleaseDomain(domain);
}

std::vector<Ref<CSesDev>> SnapshotDevices(CSesDomain* domain) {
    std::vector<Ref<CSesDev>> snapshot;
    std::lock_guard lock(domain->device_lock);
    for (CSesDev* device : domain->devices) {
        if (device->IsRemoved()) continue;
        ++ModelCounts::Refs(*device);
        snapshot.push_back(Ref<CSesDev>::Adopt(device));
    }
    return snapshot;
}

CSesDev* AddDevice(CSesDomain* domain, const SES_ADDR& address, bool* created) {
    if (created) *created = false;
    std::unique_ptr<CSesDev> fresh(new (std::nothrow)
                                       CSesDev(domain, address, domain->clock.NowSeconds()));
    if (!fresh) return nullptr;
    const DeviceId id = address.Identifier();
    {
        std::lock_guard lock(domain->device_lock);
        for (CSesDev* device : domain->devices) {
            if (device->Identifier() == id && !device->IsRemoved()) {
                ++ModelCounts::Refs(*device);
                return device;
            }
        }
        domain->devices.push_back(fresh.get());
        ++ModelCounts::Refs(*fresh);  // the caller's
    }
    RetainDomain(domain);  // the array's reference on the device holds one on the domain
    if (created) *created = true;
    return fresh.release();
}

void MarkDeviceRemoved(CSesDev* device) {
    {
        std::lock_guard lock(device->mutex);
        if (device->flags & kDeviceRemoved) return;
        device->flags |= kDeviceRemoved;
    }
    SweepSubEnclosures(device, {});  // every one goes; their elements with them
}

std::vector<Ref<CSubEnc>> CollectSubEnclosures(CSesDomain* domain) {
    std::vector<Ref<CSubEnc>> out;
    for (const Ref<CSesDev>& device : SnapshotDevices(domain)) {
        if (!(device->Flags() & kDeviceReady)) continue;
        for (Ref<CSubEnc>& subenc : SnapshotSubEnclosures(device.get())) {
            const bool seen = std::any_of(out.begin(), out.end(), [&](const Ref<CSubEnc>& s) {
                return s->dev != device.get() && s->logical_id == subenc->logical_id;
            });
            if (!seen) out.push_back(std::move(subenc));
        }
    }
    return out;
}

}  // namespace halvorin
