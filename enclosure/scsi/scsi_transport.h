// Runs SCSI commands on enclosure services devices and finds them. The
// transport holds any number of hosts (the machine's SCSI generic devices,
// simulated enclosures) and routes every command by the adapter number of its
// address. The retry rules and result codes are the same whichever host
// answers, so nothing above can tell hardware from simulation.
//
// Thread safety: every operation may run on several threads at once; hosts
// may be added and removed at any time.
#pragma once

#include <memory>
#include <mutex>
#include <span>
#include <stop_token>
#include <vector>

#include "enclosure/scsi/scsi_host.h"
#include "net/protocol/ses_addr.h"

namespace halvorin {

inline constexpr int kMaxScsiAttempts = 30;
inline constexpr uint32_t kVpdTimeoutSeconds = 30;

class ScsiTransport {
  public:
    void AddHost(std::shared_ptr<ScsiHost> host);
    void RemoveHost(const ScsiHost* host);

    // Every enclosure services device of every host: standard INQUIRY byte 0
    // exactly 0x0D and an 8-byte NAA identifier in VPD page 0x83. Units that
    // fail are skipped.
    std::vector<SES_ADDR> ScanAdapters(std::stop_token stop = {});

    // 0 and the identifier; -5 without a usable one; or the command's failure.
    int ReadVpdIdentifier(const SES_ADDR& address, DeviceId& out, std::stop_token stop = {});

    // Bytes the device transferred (at most buffer.size() are copied), or a
    // negative result code: -4 device not openable, -7 timed out, -8 failed.
    int PassThroughIn(const SES_ADDR& address, const Cdb& cdb, std::span<uint8_t> buffer,
                      uint32_t timeout_s, std::stop_token stop = {});
    int PassThroughOut(const SES_ADDR& address, const Cdb& cdb, std::span<const uint8_t> data,
                       uint32_t timeout_s, std::stop_token stop = {});

  private:
    std::shared_ptr<ScsiHost> HostFor(uint32_t adapter) const;
    std::vector<std::shared_ptr<ScsiHost>> Hosts() const;
    int RunWithRetries(const SES_ADDR& address, const Cdb& cdb, DataDirection direction,
                       std::span<uint8_t> data, uint32_t timeout_s, std::stop_token stop);
    bool IsEnclosureServicesDevice(const SES_ADDR& address, std::stop_token stop);

    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<ScsiHost>> hosts_;
};

// The transport of this process; the agent server runs its commands here.
// On Linux it starts with the machine's SCSI generic devices.
ScsiTransport& ProcessTransport();

}  // namespace halvorin
