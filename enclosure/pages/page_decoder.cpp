#include "enclosure/pages/page_decoder.h"

#include "base/result_code.h"
#include "enclosure/model/sub_enc.h"
#include "enclosure/pages/configuration_decoder.h"
#include "enclosure/pages/request_kind.h"
#include "enclosure/pages/status_decoders.h"
#include "enclosure/pages/vendor_regions.h"

namespace halvorin {

int DecodeReply(CSesDev* device, uint32_t kind, int result, std::span<const uint8_t> payload,
                int configuration_result, std::span<const uint8_t> configuration, int64_t now) {
    if (kind == kReadEnclosureStatus) return ApplyEnclosureStatus(device, result, payload, now);
    if (kind == kReadElementDescriptors && configuration_result < 0) return configuration_result;
    if (result < 0) return result;
    switch (kind) {
        case kReadConfiguration:
            return kOk;  // kept until its descriptors arrive
        case kReadElementDescriptors:
            return ApplyConfiguration(device, configuration, payload);
        case kReadAdditionalStatus:
            return ApplyAdditionalElementStatus(device, payload);
        case kReadThresholds:
            return ApplyThresholdIn(device, payload);
        case kReadPorts:
            return ApplyPortEntries(device, payload);
        case kReadDiskIdentities:
            return ApplyDiskIdentities(device, payload);
        case kReadZones:
            return ApplyZoneEntries(device, payload);
        case kReadExpanders:
            return ApplyExpanderEntries(device, payload);
        case kReadNominalVoltages:
            return ApplyNominalVoltages(device, payload);
        case kReadUidLed:
            return ApplyIndicator(device, kIndicatorUidLed, payload);
        case kReadBuzzer:
            return ApplyIndicator(device, kIndicatorBuzzer, payload);
        case kReadSystemName:
            return ApplySystemName(device, payload);
        default:
            return kGeneralFailure;
    }
}

}  // namespace halvorin
