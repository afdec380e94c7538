#include "enclosure/model/element_condition.h"

#include "enclosure/model/element_types.h"
#include "enclosure/model/ses_elem.h"

namespace halvorin {

namespace {

// SES element status codes.
constexpr uint8_t kStatusCritical = 2;
constexpr uint8_t kStatusNoncritical = 3;
constexpr uint8_t kStatusUnrecoverable = 4;

constexpr uint32_t kFaultBits = kStateFailed | kStateAboveHighCritical | kStateBelowLowCritical |
                                kStateTemperatureOverFailure | kStateTemperatureUnderFailure |
                                kStateOverTemperatureFailure | kStateAcFailure | kStateDcFailure;
constexpr uint32_t kWarningBits = kStateAboveHighWarning | kStateBelowLowWarning |
                                  kStateTemperatureWarning | kStateOverCurrent |
                                  kStateUnderVoltage | kStateOverVoltage;

}  // namespace

Condition ElementCondition(uint32_t state, uint8_t status_code) {
    if ((state & kFaultBits) || status_code == kStatusCritical ||
        status_code == kStatusUnrecoverable)
        return Condition::kFault;
    if ((state & kWarningBits) || status_code == kStatusNoncritical) return Condition::kWarning;
    return Condition::kOk;
}

Condition ElementCondition(const CSesElem& element) {
    return ElementCondition(element.state, element.raw_status[0] & 0x0F);
}

}  // namespace halvorin
