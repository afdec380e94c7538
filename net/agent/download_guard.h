// One firmware download per enclosure at a time. Two managers that write the
// same microcode buffer at once would interleave their segments into an image
// neither sent; the second is refused and told who is downloading.
#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "net/protocol/ses_addr.h"

namespace halvorin {

class DownloadGuard {
  public:
    // A download that has sent nothing for this long no longer holds its
    // device (a manager that stopped half-way but stays connected).
    static constexpr std::chrono::minutes kAbandonedAfter{5};

    // Claims the device for the connection (again, for its later segments).
    // Nothing when it may go on; otherwise who holds the device.
    std::optional<std::string> Claim(const DeviceId& device, uint64_t connection_id,
                                     const std::string& who);
    // The connection ended: the devices it held are free.
    void ReleaseAll(uint64_t connection_id);

  private:
    struct Holder {
        DeviceId device;
        uint64_t connection_id = 0;
        std::string who;
        std::chrono::steady_clock::time_point last_segment;
    };
    std::mutex mutex_;
    std::vector<Holder> holders_;
};

}  // namespace halvorin
