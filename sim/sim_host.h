// Simulated enclosures behind the SCSI transport's seam. Each enclosure gets
// an adapter number of its own (from 1000 up, clear of the machine's SCSI
// hosts); its SES devices are logical units on it. They answer TEST UNIT
// READY, REQUEST SENSE, INQUIRY, RECEIVE DIAGNOSTIC RESULTS, SEND DIAGNOSTIC,
// READ BUFFER and WRITE BUFFER like hardware, and anything else with CHECK
// CONDITION, ILLEGAL REQUEST.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "enclosure/scsi/scsi_host.h"
#include "sim/simulated_enclosure.h"

namespace halvorin::sim {

inline constexpr uint32_t kFirstSimulatedAdapter = 1000;

class SimHost final : public ScsiHost {
  public:
    explicit SimHost(uint32_t first_adapter = kFirstSimulatedAdapter);

    // Returns the adapter number the enclosure's devices are on.
    uint32_t Add(std::shared_ptr<SimulatedEnclosure> enclosure);
    std::vector<std::shared_ptr<SimulatedEnclosure>> Enclosures() const;
    // Unplugs (or plugs back) one SES device of an enclosure, by its index
    // in the enclosure's devices, as when one path of a dual-path enclosure
    // goes away. False when there is no such device.
    bool SetDevicePresent(const SimulatedEnclosure& enclosure, size_t index, bool present);

    std::vector<ScsiUnit> ListUnits() override;
    bool ServesAdapter(uint32_t adapter) const override;
    ScsiIoResult Execute(const ScsiIo& io, std::stop_token stop) override;

  private:
    struct Device {
        ScsiUnit unit;
        std::shared_ptr<SimulatedEnclosure> enclosure;
        size_t index;  // within the enclosure's devices
        DeviceSpec described;
        bool present = true;
    };
    const Device* Find(const ScsiUnit& unit) const;

    mutable std::mutex mutex_;
    std::vector<Device> devices_;
    uint32_t next_adapter_;
};

// Runs one CDB on one simulated SES device (the part of SimHost that knows
// the commands); exposed for tests.
ScsiIoResult ExecuteOnDevice(SimulatedEnclosure& enclosure, const DeviceSpec& device,
                             const ScsiIo& io);

}  // namespace halvorin::sim
