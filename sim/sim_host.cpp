#include "sim/sim_host.h"

#include <algorithm>
#include <condition_variable>

#include "base/byte_order.h"
#include "sim/vendor_buffer.h"

namespace halvorin::sim {

namespace {

constexpr uint8_t kTestUnitReady = 0x00;
constexpr uint8_t kRequestSense = 0x03;
constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kReceiveDiagnostic = 0x1C;
constexpr uint8_t kSendDiagnostic = 0x1D;
constexpr uint8_t kWriteBuffer = 0x3B;
constexpr uint8_t kReadBuffer = 0x3C;
constexpr uint8_t kVendorSpecificMode = 0x01;

constexpr uint8_t kStatusCheckCondition = 0x02;
constexpr uint8_t kStatusBusy = 0x08;
constexpr uint8_t kSenseHardwareError = 0x04;
constexpr uint8_t kSenseIllegalRequest = 0x05;
constexpr uint8_t kSenseUnitAttention = 0x06;
constexpr uint8_t kAscInvalidOpcode = 0x20;
constexpr uint8_t kAscInvalidFieldInCdb = 0x24;
constexpr uint8_t kAscInvalidFieldInParameters = 0x26;
constexpr uint8_t kAscPowerOnReset = 0x29;

ScsiIoResult Completed(uint8_t status, uint32_t transferred = 0) {
    ScsiIoResult r;
    r.outcome = ScsiIoResult::Outcome::kCompleted;
    r.status = status;
    r.transferred = transferred;
    return r;
}

// Fixed-format sense data, 18 bytes.
ScsiIoResult CheckCondition(uint8_t key, uint8_t asc) {
    ScsiIoResult r = Completed(kStatusCheckCondition);
    r.sense[0] = 0x70;
    r.sense[2] = key;
    r.sense[7] = 10;
    r.sense[12] = asc;
    r.sense_length = 18;
    return r;
}

ScsiIoResult IllegalRequest(uint8_t asc = kAscInvalidFieldInCdb) {
    return CheckCondition(kSenseIllegalRequest, asc);
}

// A data-in answer: the device sends at most what the CDB allows and the
// buffer holds.
ScsiIoResult DataIn(const ScsiIo& io, const std::vector<uint8_t>& answer, size_t allocation) {
    if (io.direction != DataDirection::kIn) return IllegalRequest();
    const size_t n = std::min({answer.size(), allocation, io.data.size()});
    std::copy_n(answer.begin(), n, io.data.begin());
    return Completed(0, static_cast<uint32_t>(n));
}

void AppendPadded(std::vector<uint8_t>& out, const std::string& text, size_t width) {
    for (size_t i = 0; i < width; ++i)
        out.push_back(i < text.size() ? uint8_t(text[i]) : ' ');
}

std::vector<uint8_t> StandardInquiry(const SimulatedEnclosure::Identity& id) {
    std::vector<uint8_t> data = {0x0D, 0x00, 0x06, 0x02, 31, 0x00, 0x40, 0x02};
    AppendPadded(data, id.vendor, 8);
    AppendPadded(data, id.product, 16);
    AppendPadded(data, id.revision, 4);
    return data;
}

std::vector<uint8_t> DeviceIdentificationVpd(const DeviceSpec& device) {
    std::vector<uint8_t> page = {0x0D, 0x83, 0x00, 0x00};
    if (device.naa16_first) {
        page.insert(page.end(), {0x01, 0x03, 0x00, 16, 0x60});  // NAA IEEE registered extended
        page.insert(page.end(), device.id.begin(), device.id.end());
        page.insert(page.end(), 7, 0x00);
    }
    page.insert(page.end(), {0x01, 0x03, 0x00, 8});  // binary, LU, NAA, 8 bytes
    page.insert(page.end(), device.id.begin(), device.id.end());
    page.insert(page.end(), {0x61, 0x93, 0x00, 8});  // SAS, PIV, target port, NAA
    DeviceId port = device.id;
    port[7] ^= 0x01;
    page.insert(page.end(), port.begin(), port.end());
    put_be16(&page[2], static_cast<uint32_t>(page.size() - 4));
    return page;
}

ScsiIoResult Inquiry(SimulatedEnclosure& enclosure, const DeviceSpec& device, const ScsiIo& io) {
    const bool vpd = io.cdb[1] & 0x01;
    const uint8_t page = io.cdb[2];
    const size_t allocation = be16(&io.cdb[3]);
    if (!vpd) {
        if (page != 0) return IllegalRequest();
        return DataIn(io, StandardInquiry(enclosure.InquiryIdentity()), allocation);
    }
    if (page == 0x00) return DataIn(io, {0x0D, 0x00, 0x00, 0x02, 0x00, 0x83}, allocation);
    if (page == 0x83) return DataIn(io, DeviceIdentificationVpd(device), allocation);
    return IllegalRequest();
}

// Every command so far completed or failed with its own sense, so nothing is
// pending: NO SENSE in the format the CDB asks for (DESC bit).
ScsiIoResult RequestSense(const ScsiIo& io) {
    const bool descriptor_format = io.cdb[1] & 0x01;
    std::vector<uint8_t> sense;
    if (descriptor_format) {
        sense = {0x72, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    } else {
        sense.assign(18, 0);
        sense[0] = 0x70;
        sense[7] = 10;
    }
    return DataIn(io, sense, io.cdb[4]);
}

ScsiIoResult ReceiveDiagnostic(SimulatedEnclosure& enclosure, const ScsiIo& io) {
    if (!(io.cdb[1] & 0x01)) return IllegalRequest();  // only PCV = 1 is served
    auto page = enclosure.ReadDiagnosticPage(io.cdb[2]);
    if (!page) return IllegalRequest();
    return DataIn(io, *page, be16(&io.cdb[3]));
}

ScsiIoResult SendDiagnostic(SimulatedEnclosure& enclosure, const ScsiIo& io) {
    const size_t length = be16(&io.cdb[3]);
    if (io.direction != DataDirection::kOut || !(io.cdb[1] & 0x10) || length != io.data.size()) {
        return IllegalRequest();
    }
    if (!enclosure.WriteDiagnosticPage(io.data))
        return IllegalRequest(kAscInvalidFieldInParameters);
    return Completed(0, static_cast<uint32_t>(length));
}

bool IsVendorBufferCdb(const Cdb& cdb) {
    return (cdb[1] & 0x1F) == kVendorSpecificMode && cdb[2] == kVendorBufferId;
}

ScsiIoResult ReadBuffer(SimulatedEnclosure& enclosure, const ScsiIo& io) {
    if (!IsVendorBufferCdb(io.cdb)) return IllegalRequest();
    auto region = enclosure.ReadVendorBuffer(be24(&io.cdb[3]));
    if (!region) return IllegalRequest();
    return DataIn(io, *region, be24(&io.cdb[6]));
}

ScsiIoResult WriteBuffer(SimulatedEnclosure& enclosure, const ScsiIo& io) {
    const size_t length = be24(&io.cdb[6]);
    if (io.direction != DataDirection::kOut || !IsVendorBufferCdb(io.cdb) ||
        length != io.data.size()) {
        return IllegalRequest();
    }
    if (!enclosure.WriteVendorBuffer(be24(&io.cdb[3]), io.data)) {
        return IllegalRequest(kAscInvalidFieldInParameters);
    }
    return Completed(0, static_cast<uint32_t>(length));
}

// The page a fault may be limited to: diagnostic page code or buffer offset.
std::optional<uint8_t> PageOf(const ScsiIo& io) {
    switch (io.cdb[0]) {
        case kReceiveDiagnostic:
            return io.cdb[2];
        case kSendDiagnostic:
            if (!io.data.empty()) return io.data[0];
            return std::nullopt;
        case kReadBuffer:
        case kWriteBuffer:
            return io.cdb[5];
        default:
            return std::nullopt;
    }
}

// Sleeps unless the command is abandoned; false when it was.
bool WaitFor(std::chrono::milliseconds duration, std::stop_token stop) {
    std::mutex mutex;
    std::condition_variable_any never;
    std::unique_lock lock(mutex);
    never.wait_for(lock, stop, duration, [] { return false; });
    return !stop.stop_requested();
}

}  // namespace

ScsiIoResult ExecuteOnDevice(SimulatedEnclosure& enclosure, const DeviceSpec& device,
                             const ScsiIo& io) {
    switch (io.cdb[0]) {
        case kTestUnitReady:
            return Completed(0);
        case kRequestSense:
            return RequestSense(io);
        case kInquiry:
            return Inquiry(enclosure, device, io);
        case kReceiveDiagnostic:
            return ReceiveDiagnostic(enclosure, io);
        case kSendDiagnostic:
            return SendDiagnostic(enclosure, io);
        case kReadBuffer:
            return ReadBuffer(enclosure, io);
        case kWriteBuffer:
            return WriteBuffer(enclosure, io);
        default:
            return IllegalRequest(kAscInvalidOpcode);
    }
}

SimHost::SimHost(uint32_t first_adapter) : next_adapter_(first_adapter) {}

uint32_t SimHost::Add(std::shared_ptr<SimulatedEnclosure> enclosure) {
    std::lock_guard lock(mutex_);
    const uint32_t adapter = next_adapter_++;
    const auto& specs = enclosure->scenario().devices;
    for (size_t i = 0; i < specs.size(); ++i) {
        devices_.push_back({ScsiUnit{adapter, specs[i].path_id, specs[i].target_id, specs[i].lun},
                            enclosure, i, specs[i]});
    }
    return adapter;
}

std::vector<std::shared_ptr<SimulatedEnclosure>> SimHost::Enclosures() const {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<SimulatedEnclosure>> all;
    for (const Device& d : devices_) {
        if (std::find(all.begin(), all.end(), d.enclosure) == all.end()) all.push_back(d.enclosure);
    }
    return all;
}

std::vector<ScsiUnit> SimHost::ListUnits() {
    std::lock_guard lock(mutex_);
    std::vector<ScsiUnit> units;
    for (const Device& d : devices_) {
        if (d.present && d.enclosure->Visible()) units.push_back(d.unit);
    }
    return units;
}

bool SimHost::ServesAdapter(uint32_t adapter) const {
    std::lock_guard lock(mutex_);
    return std::any_of(devices_.begin(), devices_.end(),
                       [adapter](const Device& d) { return d.unit.adapter == adapter; });
}

bool SimHost::SetDevicePresent(const SimulatedEnclosure& enclosure, size_t index, bool present) {
    std::lock_guard lock(mutex_);
    for (Device& d : devices_) {
        if (d.enclosure.get() != &enclosure || d.index != index) continue;
        d.present = present;
        return true;
    }
    return false;
}

const SimHost::Device* SimHost::Find(const ScsiUnit& unit) const {
    for (const Device& d : devices_) {
        if (d.unit == unit) return &d;
    }
    return nullptr;
}

ScsiIoResult SimHost::Execute(const ScsiIo& io, std::stop_token stop) {
    Device device;
    {
        std::lock_guard lock(mutex_);
        const Device* found = Find(io.unit);
        if (!found || !found->present) {
            ScsiIoResult none;
            none.outcome = ScsiIoResult::Outcome::kNoDevice;
            return none;
        }
        device = *found;
    }
    SimulatedEnclosure& enclosure = *device.enclosure;
    if (!enclosure.Visible()) {
        ScsiIoResult gone;
        gone.outcome = ScsiIoResult::Outcome::kNoDevice;
        return gone;
    }
    if (auto fault = enclosure.TakeFault(device.index, io.cdb[0], PageOf(io))) {
        switch (fault->answer) {
            case FaultAnswer::kBusy:
                return Completed(kStatusBusy);
            case FaultAnswer::kUnitAttention:
                return CheckCondition(kSenseUnitAttention, kAscPowerOnReset);
            case FaultAnswer::kCheckCondition:
                return CheckCondition(kSenseHardwareError, 0x44);
            case FaultAnswer::kSlow:
                if (!WaitFor(std::chrono::milliseconds(fault->delay_ms), stop))
                    return ScsiIoResult{};
                break;
            case FaultAnswer::kNoAnswer: {
                WaitFor(std::chrono::seconds(io.timeout_s), stop);
                ScsiIoResult timed_out;
                timed_out.outcome = ScsiIoResult::Outcome::kTimedOut;
                return timed_out;
            }
        }
    }
    return ExecuteOnDevice(enclosure, device.described, io);
}

}  // namespace halvorin::sim
