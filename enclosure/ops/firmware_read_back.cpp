#include "enclosure/ops/firmware_read_back.h"

#include <algorithm>

#include "enclosure/poll/read_chain.h"

namespace halvorin {

namespace {

// The device list is normally asked for once a minute; while the enclosure
// is away it is asked for every few seconds.
constexpr int64_t kDeviceListEvery = 5;
constexpr int64_t kDeviceListPeriod = 60;

}  // namespace

FirmwareReadBack::FirmwareReadBack(CSesDomain* domain, const DeviceId& device, uint8_t subenc_id,
                                   std::string revision_before)
    : domain_(Ref<CSesDomain>::Share(domain)),
      device_(device),
      subenc_id_(subenc_id),
      revision_before_(std::move(revision_before)) {}

FirmwareReadBack::Outcome FirmwareReadBack::Step() {
    CSesDomain* domain = domain_.get();
    Ref<CSesDev> device = Ref<CSesDev>::Adopt(AcquireDevice(domain, device_));
    if (!device) {
        domain->last_full_refresh =
            std::min(domain->last_full_refresh,
                     domain->clock.NowSeconds() - (kDeviceListPeriod - kDeviceListEvery));
        return Outcome::kPending;
    }
    if (device->chain_running) return Outcome::kPending;
    const bool read_well = device->chain_error == 0 && (device->Flags() & kDeviceReady);
    if (reread_started_ && read_well) {
        Ref<CSubEnc> subenc = Ref<CSubEnc>::Adopt(AcquireSubEnc(device.get(), subenc_id_));
        if (subenc) {
            revision_ = SubEncInfo(subenc.get()).firmware_revision;
            return revision_ == revision_before_ ? Outcome::kUnchanged : Outcome::kChanged;
        }
    }
    // Everything again, from the configuration (which names the revision).
    if (domain->client.state() == kStateReady && StartReadChain(device.get()) >= 0)
        reread_started_ = true;
    return Outcome::kPending;
}

}  // namespace halvorin
