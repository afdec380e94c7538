#include "net/agent/device_catalog.h"

#include <algorithm>

#include "base/log.h"
#include "net/agent/command_audit.h"

namespace halvorin {

DeviceCatalog::DeviceCatalog(ScsiTransport& transport,
                             std::chrono::milliseconds min_rescan_interval)
    : transport_(transport), min_rescan_interval_(min_rescan_interval) {}

namespace {

bool Among(const std::vector<SES_ADDR>& devices, const SES_ADDR& device) {
    return std::find(devices.begin(), devices.end(), device) != devices.end();
}

// One line per device that came or went since the last scan.
void LogChanges(const std::vector<SES_ADDR>& before, const std::vector<SES_ADDR>& after) {
    for (const SES_ADDR& device : after)
        if (!Among(before, device)) Log("found enclosure services device " + DeviceText(device));
    for (const SES_ADDR& device : before)
        if (!Among(after, device))
            Log(LogPriority::kNotice,
                "enclosure services device " + DeviceText(device) + " is gone");
}

}  // namespace

std::vector<SES_ADDR> DeviceCatalog::ScanWithScanLockHeld(std::stop_token stop) {
    std::vector<SES_ADDR> found = transport_.ScanAdapters(stop);
    std::lock_guard lock(mutex_);
    LogChanges(known_, found);
    known_ = found;
    last_scan_ = std::chrono::steady_clock::now();
    scanned_ = true;
    return found;
}

std::vector<SES_ADDR> DeviceCatalog::Rescan(std::stop_token stop) {
    std::lock_guard scan(scan_mutex_);
    return ScanWithScanLockHeld(stop);
}

bool DeviceCatalog::KnownLocked(const SES_ADDR& address) const {
    return std::find(known_.begin(), known_.end(), address) != known_.end();
}

bool DeviceCatalog::Contains(const SES_ADDR& address, std::stop_token stop) {
    {
        std::lock_guard lock(mutex_);
        if (KnownLocked(address)) return true;
    }
    std::lock_guard scan(scan_mutex_);
    {
        std::lock_guard lock(mutex_);
        // Another thread may have rescanned while this one waited.
        if (KnownLocked(address)) return true;
        const bool recent =
            scanned_ && std::chrono::steady_clock::now() - last_scan_ < min_rescan_interval_;
        if (recent) return false;
    }
    std::vector<SES_ADDR> found = ScanWithScanLockHeld(stop);
    return std::find(found.begin(), found.end(), address) != found.end();
}

}  // namespace halvorin
