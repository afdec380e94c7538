// The machine's SCSI generic devices (/dev/sg*), driven with the SG_IO ioctl.
// A unit's address is its Linux SCSI address: adapter = host number, path id =
// channel, target id = target, logical unit = lun. Each command looks its
// /dev/sg node up in sysfs again, so hot-plugged enclosures are found and a
// vanished one fails cleanly.
#pragma once

#include <filesystem>
#include <optional>

#include "enclosure/scsi/scsi_host.h"

namespace halvorin {

class SgHost final : public ScsiHost {
  public:
    // The roots are parameters so tests can lay out a fake sysfs tree.
    explicit SgHost(std::filesystem::path sysfs = "/sys", std::filesystem::path dev = "/dev");

    std::vector<ScsiUnit> ListUnits() override;
    bool ServesAdapter(uint32_t adapter) const override;
    ScsiIoResult Execute(const ScsiIo& io, std::stop_token stop) override;

    // The /dev/sg node of a unit, if sysfs lists one.
    std::optional<std::filesystem::path> NodeFor(const ScsiUnit& unit) const;

  private:
    struct Node {
        std::filesystem::path dev_path;
        ScsiUnit unit;
        int peripheral_type;  // from sysfs, -1 when unknown
    };
    std::vector<Node> ListNodes() const;

    std::filesystem::path sysfs_;
    std::filesystem::path dev_;
};

// CDB length by the operation code's group, as the SCSI standard assigns it.
uint8_t CdbLengthForOpcode(uint8_t opcode);

}  // namespace halvorin
