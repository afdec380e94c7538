// The enclosure services devices the agent has found on its host. Commands
// from the network run only on these addresses, so a manager cannot reach the
// data disks that share an adapter with an enclosure.
#pragma once

#include <chrono>
#include <mutex>
#include <stop_token>
#include <vector>

#include "enclosure/scsi/scsi_transport.h"

namespace halvorin {

class DeviceCatalog {
  public:
    DeviceCatalog(ScsiTransport& transport, std::chrono::milliseconds min_rescan_interval);

    // Scans the host now and remembers the result.
    std::vector<SES_ADDR> Rescan(std::stop_token stop = {});

    // Whether the address (identifier and location) was discovered. An
    // unknown address triggers a rescan when the last one is old enough, so
    // hot-plugged enclosures work without waiting for a manager's enumeration.
    bool Contains(const SES_ADDR& address, std::stop_token stop = {});

  private:
    bool KnownLocked(const SES_ADDR& address) const;
    std::vector<SES_ADDR> ScanWithScanLockHeld(std::stop_token stop);

    ScsiTransport& transport_;
    const std::chrono::milliseconds min_rescan_interval_;
    std::mutex scan_mutex_;  // one scan at a time; taken before mutex_
    std::mutex mutex_;
    std::vector<SES_ADDR> known_;
    std::chrono::steady_clock::time_point last_scan_{};
    bool scanned_ = false;
};

}  // namespace halvorin
