#include "enclosure/poll/host_retry.h"

#include <algorithm>

namespace halvorin {

bool HostRetrySchedule::Step(CSesClient& client, Time now) {
    const int state = client.state();
    if (state == kStateReady) next_.erase(&client);
    if (state != kStateUnreachable) return false;
    auto [found, first] = next_.try_emplace(&client, Next{now, now + kFirstRetry});
    Next& next = found->second;
    if (first || now < next.at) return false;
    client.RetryNow();
    const auto outage = std::chrono::duration_cast<std::chrono::seconds>(now - next.since);
    next.at = now + std::clamp<std::chrono::seconds>(outage / 10, kFirstRetry, kLongestWait);
    return true;
}

void HostRetrySchedule::KeepOnly(const std::unordered_set<const CSesClient*>& clients) {
    std::erase_if(next_, [&](const auto& entry) { return !clients.count(entry.first); });
}

}  // namespace halvorin
