#include "net/agent/download_guard.h"

#include <algorithm>

namespace halvorin {

std::optional<std::string> DownloadGuard::Claim(const DeviceId& device, uint64_t connection_id,
                                                const std::string& who) {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    std::erase_if(holders_,
                  [&](const Holder& h) { return now - h.last_segment >= kAbandonedAfter; });
    auto held = std::find_if(holders_.begin(), holders_.end(),
                             [&](const Holder& h) { return h.device == device; });
    if (held == holders_.end()) {
        holders_.push_back({device, connection_id, who, now});
        return std::nullopt;
    }
    if (held->connection_id != connection_id) return held->who;
    held->last_segment = now;
    return std::nullopt;
}

void DownloadGuard::ReleaseAll(uint64_t connection_id) {
    std::lock_guard lock(mutex_);
    std::erase_if(holders_, [&](const Holder& h) { return h.connection_id == connection_id; });
}

}  // namespace halvorin
