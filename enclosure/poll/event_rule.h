// Which state bits are worth an event, how severe they are and which message
// (string id) reports them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace halvorin {

enum EventLevel : int { kEventInformation = 0, kEventWarning = 1, kEventError = 2 };

struct EventRule {
    uint32_t state_bit;
    int level;
    int message_id;
};

std::span<const EventRule> EventRules();
// The rule whose bit equals the given one exactly; nothing for bits without a row.
std::optional<EventRule> FindEventRule(uint32_t state_bit);

}  // namespace halvorin
