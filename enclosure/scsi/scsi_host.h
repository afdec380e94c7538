// The hardware seam. A ScsiHost is one source of SCSI logical units: the
// machine's SCSI generic devices, or a simulated enclosure. It runs one
// command once and reports what happened; retries, sense interpretation and
// discovery rules live above it in ScsiTransport, identical for every host.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <stop_token>
#include <vector>

#include "net/protocol/wire_format.h"

namespace halvorin {

struct ScsiUnit {
    uint32_t adapter = 0;  // host adapter number, as in "\\.\Scsi%d:"
    uint8_t path_id = 0;   // channel
    uint8_t target_id = 0;
    uint8_t lun = 0;
    bool operator==(const ScsiUnit&) const = default;
};

enum class DataDirection { kIn, kOut };

// One attempt of one command.
struct ScsiIo {
    ScsiUnit unit;
    Cdb cdb{};
    DataDirection direction = DataDirection::kIn;
    std::span<uint8_t> data;  // data-in: filled by the device; data-out: sent to it
    uint32_t timeout_s = 30;
};

struct ScsiIoResult {
    enum class Outcome {
        kCompleted,  // the device answered with a SCSI status
        kTimedOut,   // the command timed out in the transport
        kFailed,     // the pass-through call itself failed
        kNoDevice,   // the unit could not be opened
    };
    Outcome outcome = Outcome::kFailed;
    uint8_t status = 0;        // SCSI status when completed
    uint32_t transferred = 0;  // data bytes actually moved
    std::array<uint8_t, 32> sense{};
    uint8_t sense_length = 0;  // valid bytes in sense
};

class ScsiHost {
  public:
    virtual ~ScsiHost() = default;

    // Logical units that may be enclosure services devices, in scan order.
    // Hosts may leave out units they know are of another type.
    virtual std::vector<ScsiUnit> ListUnits() = 0;

    // Whether this host answers for that adapter number.
    virtual bool ServesAdapter(uint32_t adapter) const = 0;

    // Runs the command once. Called from several threads at once. A host that
    // can wait (a simulated slow device) gives up when stop is requested.
    virtual ScsiIoResult Execute(const ScsiIo& io, std::stop_token stop) = 0;
};

}  // namespace halvorin
