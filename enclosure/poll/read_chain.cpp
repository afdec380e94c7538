#include "enclosure/poll/read_chain.h"

#include <memory>

#include "base/result_code.h"
#include "enclosure/model/model_ref.h"
#include "enclosure/pages/cdb.h"
#include "enclosure/pages/page_decoder.h"

namespace halvorin {

namespace {

constexpr uint32_t kRefresh[] = {kReadSystemName,     kReadEnclosureStatus, kReadAdditionalStatus,
                                 kReadDiskIdentities, kReadZones,           kReadPorts,
                                 kReadExpanders,      kReadUidLed,          kReadBuzzer};

// The configuration page travels with the element descriptor read that
// follows it in a chain; the two are applied together.
struct CarriedConfiguration {
    int result = 0;
    std::vector<uint8_t> bytes;
};

// A removed device's reads: pages are not decoded, but the system name and
// indicators still are, and the vendor-region links still chain.
bool DecodesWhenRemoved(uint32_t kind) {
    return kind == kReadSystemName || kind == kReadUidLed || kind == kReadBuzzer;
}
bool IsPageKind(uint32_t kind) {
    return kind == kReadConfiguration || kind == kReadElementDescriptors ||
           kind == kReadEnclosureStatus || kind == kReadAdditionalStatus;
}

int Send(CSesDev* device, uint32_t kind, ChainFlags chain, int timeout_s,
         std::shared_ptr<CarriedConfiguration> carried);

void OnReply(Ref<CSesDev> device, uint32_t kind, ChainFlags chain,
             std::shared_ptr<CarriedConfiguration> carried, std::span<const uint8_t> payload,
             int result) {
    const bool removed = device->IsRemoved();
    int decoded = result;
    if (!removed || DecodesWhenRemoved(kind)) {
        const CarriedConfiguration none;
        const CarriedConfiguration& configuration = carried ? *carried : none;
        decoded = DecodeReply(device.get(), kind, result, payload, configuration.result,
                              configuration.bytes, device->domain->clock.NowSeconds());
    }
    if (!chain.chained()) {
        // A configuration change seen by the refresh: rebuild the whole model.
        if (!removed && decoded == kGenerationChanged &&
            (kind == kReadEnclosureStatus || kind == kReadAdditionalStatus) &&
            !device->chain_running) {
            StartReadChain(device.get());
        }
        return;
    }
    device->chain_running = false;
    if (removed && IsPageKind(kind)) return;
    if (kind == kReadThresholds) {
        device->SetFlags(kDeviceReady);
        device->chain_error = 0;
    }
    const uint32_t next = NextChainKind(device.get(), kind, decoded);
    if (next == 0) {
        if (decoded < 0 && kind != kReadThresholds) device->chain_error = decoded;
        return;
    }
    std::shared_ptr<CarriedConfiguration> forward;
    if (kind == kReadConfiguration) {
        forward = std::make_shared<CarriedConfiguration>();
        forward->result = result;
        forward->bytes.assign(payload.begin(), payload.end());
    }
    Send(device.get(), next, chain, 0, std::move(forward));
}

int Send(CSesDev* device, uint32_t kind, ChainFlags chain, int timeout_s,
         std::shared_ptr<CarriedConfiguration> carried) {
    const auto cdb = CdbForKind(kind);
    if (!cdb) return kGeneralFailure;
    CSesDomain* domain = device->domain;
    Ref<CSesDev> hold = Ref<CSesDev>::Share(device);
    const int timeout = timeout_s > 0 ? timeout_s : domain->request_timeout;
    const int sent = domain->client.SendScsiIn(
        device->Address(), *cdb, timeout,
        [hold, kind, chain, carried](std::span<const uint8_t> payload, int result) {
            OnReply(hold, kind, chain, carried, payload, result);
        });
    if (sent < 0) return sent;  // the handler (and its reference) is gone with the request
    if (chain.chained()) device->chain_running = true;
    return kOk;
}

}  // namespace

uint32_t NextChainKind(const CSesDev* device, uint32_t kind, int decoded) {
    switch (kind) {
        case kReadConfiguration:
            return kReadElementDescriptors;
        case kReadElementDescriptors:
            if (decoded < 0) return 0;
            return (device->Flags() & kDeviceStatusAfterDescriptors) ? kReadEnclosureStatus
                                                                     : kReadSystemName;
        case kReadSystemName:
            return kReadPorts;
        case kReadPorts:
            return kReadDiskIdentities;
        case kReadDiskIdentities:
            return kReadZones;
        case kReadZones:
            return kReadExpanders;
        case kReadExpanders:
            return kReadNominalVoltages;
        case kReadNominalVoltages:
            return kReadUidLed;
        case kReadUidLed:
            return kReadBuzzer;
        case kReadBuzzer:
            return kReadEnclosureStatus;
        case kReadEnclosureStatus:
            return decoded == kGenerationChanged ? kReadConfiguration : kReadAdditionalStatus;
        case kReadAdditionalStatus:
            return decoded == kGenerationChanged ? kReadConfiguration : kReadThresholds;
        default:
            return 0;
    }
}

int IssueRead(CSesDev* device, uint32_t kind, ChainFlags chain, int timeout_s) {
    return Send(device, kind, chain, timeout_s, nullptr);
}

int StartReadChain(CSesDev* device) {
    return IssueRead(device, kReadConfiguration, kFirstChain);
}

std::span<const uint32_t> RefreshKinds() {
    return kRefresh;
}

}  // namespace halvorin
