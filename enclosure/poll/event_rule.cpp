#include "enclosure/poll/event_rule.h"

#include "enclosure/model/element_types.h"

namespace halvorin {

namespace {

constexpr EventRule kRules[] = {
    {kStateBelowLowCritical, kEventError, 20001},
    {kStateAboveHighCritical, kEventError, 20002},
    {kStateBelowLowWarning, kEventWarning, 20003},
    {kStateAboveHighWarning, kEventWarning, 20004},
    {kStateTemperatureUnderFailure, kEventError, 20005},
    {kStateTemperatureOverFailure, kEventError, 20006},
    {kStateFailed, kEventError, 20007},
    {kStateDcFailure, kEventError, 20009},
    {kStateAcFailure, kEventError, 20010},
    {kStateOverTemperatureFailure, kEventError, 20011},
    {kStateTemperatureWarning, kEventWarning, 20012},
    {kStateOverCurrent, kEventWarning, 20013},
    // The DC OVER-VOLTAGE bit sets 0x4000, DC UNDER-VOLTAGE 0x2000: each gets
    // the message that names it.
    {kStateOverVoltage, kEventWarning, 20014},
    {kStateUnderVoltage, kEventWarning, 20015},
    {kStateHotSpare, kEventInformation, 20016},
    {kStateInCriticalArray, kEventWarning, 20017},
    {kStateInFailedArray, kEventError, 20018},
};

}  // namespace

std::span<const EventRule> EventRules() {
    return kRules;
}

std::optional<EventRule> FindEventRule(uint32_t state_bit) {
    for (const EventRule& rule : kRules) {
        if (rule.state_bit == state_bit) return rule;
    }
    return std::nullopt;
}

}  // namespace halvorin
