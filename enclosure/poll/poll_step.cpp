#include "enclosure/poll/poll_step.h"

#include "enclosure/model/ses_domain.h"
#include "enclosure/pages/request_kind.h"
#include "enclosure/poll/device_list.h"
#include "enclosure/poll/read_chain.h"

namespace halvorin {

void PollStep(CSesDomain* domain) {
    if (!domain->reads_when_ready) {
        // The device list goes out the moment a hello is accepted, not at the
        // next step; the handler runs in DeliverCompleted, on this thread.
        domain->client.SetReadyHandler([domain] { RequestDeviceList(domain); });
        domain->reads_when_ready = true;
    }
    const int64_t now = domain->clock.NowSeconds();
    const int state = domain->client.state();
    if (state != domain->last_connection_state && state == kStateReady) {
        domain->device_list_deadline = now + kDeviceListWindowSeconds;
    }
    domain->last_connection_state = state;

    const bool refresh_due = now - domain->last_full_refresh >= kRefreshPeriodSeconds;
    if (now < domain->device_list_deadline || refresh_due) RequestDeviceList(domain);

    domain->client.DeliverCompleted();

    if (!refresh_due) return;
    domain->last_full_refresh = now;
    for (const Ref<CSesDev>& device : SnapshotDevices(domain)) {
        if (!(device->Flags() & kDeviceReady)) continue;
        for (uint32_t kind : RefreshKinds()) {
            const int timeout = kind == kReadEnclosureStatus ? kRefreshStatusTimeout : 0;
            IssueRead(device.get(), kind, ChainFlags{}, timeout);
        }
    }
}

}  // namespace halvorin
