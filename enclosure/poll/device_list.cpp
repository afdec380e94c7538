#include "enclosure/poll/device_list.h"

#include <algorithm>
#include <vector>

#include "enclosure/model/domain_registry.h"
#include "enclosure/poll/read_chain.h"

namespace halvorin {

namespace {

// A device whose first chain stalled (a failed read ends it) is read again;
// one whose chain is still under way is left to finish it.
void RestartIfNeeded(CSesDev* device) {
    if (!(device->Flags() & kDeviceReady) && !device->chain_running) StartReadChain(device);
}

}  // namespace

int RequestDeviceList(CSesDomain* domain) {
    return domain->registry->RequestEnumeration(domain, ReconcileDevices);
}

void ReconcileDevices(CSesDomain* domain, const DeviceList& list) {
    ++domain->device_list_replies;
    std::vector<Ref<CSesDev>> unseen = SnapshotDevices(domain);
    for (const SES_ADDR& address : list.devices) {
        auto known = std::find_if(unseen.begin(), unseen.end(), [&](const Ref<CSesDev>& d) {
            return d->Identifier() == address.Identifier();
        });
        if (known != unseen.end()) {
            const Ref<CSesDev> device = std::move(*known);
            unseen.erase(known);
            if (device->Address() != address) device->SetAddress(address);
            RestartIfNeeded(device.get());
            continue;
        }
        bool created = false;
        const Ref<CSesDev> device = Ref<CSesDev>::Adopt(AddDevice(domain, address, &created));
        if (device && created) StartReadChain(device.get());
    }
    // A cut-short list may have named the devices it did not show: only a
    // whole list removes any.
    if (!list.whole) return;
    for (const Ref<CSesDev>& gone : unseen) {
        MarkDeviceRemoved(gone.get());
        ReleaseDevice(gone.get());  // the domain array's
    }
}

}  // namespace halvorin
