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

void ReconcileDevices(CSesDomain* domain, std::span<const uint8_t> records) {
    ++domain->device_list_replies;
    std::vector<CSesDev*> unseen = SnapshotDevices(domain);
    for (size_t at = 0; at + kSesAddrSize <= records.size(); at += kSesAddrSize) {
        const SES_ADDR address = SES_ADDR::FromBytes(records.subspan(at).first<kSesAddrSize>());
        auto known = std::find_if(unseen.begin(), unseen.end(), [&](CSesDev* d) {
            return d->Identifier() == address.Identifier();
        });
        if (known != unseen.end()) {
            CSesDev* device = *known;
            unseen.erase(known);
            if (device->Address() != address) device->SetAddress(address);
            RestartIfNeeded(device);
            ReleaseDevice(device);
            continue;
        }
        bool created = false;
        CSesDev* device = AddDevice(domain, address, &created);
        if (!device) continue;
        if (created) StartReadChain(device);
        ReleaseDevice(device);
    }
    // A cut-short list may have named the devices it did not show: only a
    // whole list removes any.
    const bool whole = records.size() % kSesAddrSize == 0;
    for (CSesDev* gone : unseen) {
        if (whole) {
            MarkDeviceRemoved(gone);
            ReleaseDevice(gone);  // the domain array's
        }
        ReleaseDevice(gone);  // the snapshot's reference
    }
}

}  // namespace halvorin
