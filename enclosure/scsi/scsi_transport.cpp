#include "enclosure/scsi/scsi_transport.h"

#include <algorithm>

#include "base/byte_order.h"
#include "base/result_code.h"
#include "enclosure/scsi/sense_data.h"
#include "enclosure/scsi/sg_host.h"
#include "enclosure/scsi/vpd_identifier.h"

namespace halvorin {

namespace {

constexpr uint8_t kStatusGood = 0x00;
constexpr uint8_t kStatusCheckCondition = 0x02;
constexpr uint8_t kStatusBusy = 0x08;
constexpr uint8_t kStatusTaskAborted = 0x40;

constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kEnclosureServicesDevice = 0x0D;
constexpr uint16_t kStandardInquiryLength = 96;
constexpr uint8_t kDeviceIdentificationPage = 0x83;
constexpr size_t kFirstVpdLength = 256;
constexpr size_t kVpdLengthLimit = 8192;

Cdb InquiryCdb(bool vpd, uint8_t page, uint16_t allocation_length) {
    Cdb cdb{};
    cdb[0] = kInquiry;
    cdb[1] = vpd ? 0x01 : 0x00;  // EVPD
    cdb[2] = page;
    put_be16(&cdb[3], allocation_length);
    return cdb;
}

ScsiUnit UnitOf(const SES_ADDR& address, uint32_t adapter) {
    return {adapter, address.PathId(), address.TargetId(), address.Lun()};
}

// Whether an answer is worth another attempt: BUSY, TASK ABORTED, or CHECK
// CONDITION with UNIT ATTENTION sense.
bool IsRetryable(const ScsiIoResult& result) {
    if (result.status == kStatusBusy || result.status == kStatusTaskAborted) return true;
    if (result.status != kStatusCheckCondition) return false;
    const size_t valid = std::min<size_t>(result.sense_length, result.sense.size());
    auto key = SenseKey(std::span<const uint8_t>(result.sense.data(), valid));
    return key == kSenseKeyUnitAttention;
}

}  // namespace

void ScsiTransport::AddHost(std::shared_ptr<ScsiHost> host) {
    std::lock_guard lock(mutex_);
    hosts_.push_back(std::move(host));
}

void ScsiTransport::RemoveHost(const ScsiHost* host) {
    std::lock_guard lock(mutex_);
    std::erase_if(hosts_, [host](const auto& h) { return h.get() == host; });
}

std::vector<std::shared_ptr<ScsiHost>> ScsiTransport::Hosts() const {
    std::lock_guard lock(mutex_);
    return hosts_;
}

std::shared_ptr<ScsiHost> ScsiTransport::HostFor(uint32_t adapter) const {
    std::lock_guard lock(mutex_);
    for (const auto& host : hosts_) {
        if (host->ServesAdapter(adapter)) return host;
    }
    return nullptr;
}

int ScsiTransport::RunWithRetries(const SES_ADDR& address, const Cdb& cdb, DataDirection direction,
                                  std::span<uint8_t> data, uint32_t timeout_s,
                                  std::stop_token stop) {
    const auto adapter = address.AdapterNumber();
    if (!adapter) return kAdapterOpenFailed;
    auto host = HostFor(*adapter);
    if (!host) return kAdapterOpenFailed;

    const ScsiIo io{UnitOf(address, *adapter), cdb, direction, data, timeout_s};
    for (int attempt = 1; attempt <= kMaxScsiAttempts; ++attempt) {
        if (stop.stop_requested()) return kScsiFailed;
        ScsiIoResult result = host->Execute(io, stop);
        switch (result.outcome) {
            case ScsiIoResult::Outcome::kNoDevice:
                return kAdapterOpenFailed;
            case ScsiIoResult::Outcome::kTimedOut:
                return kTimedOut;
            case ScsiIoResult::Outcome::kFailed:
                return kScsiFailed;
            case ScsiIoResult::Outcome::kCompleted:
                break;
        }
        if (result.status == kStatusGood) {
            return static_cast<int>(std::min<size_t>(result.transferred, data.size()));
        }
        if (!IsRetryable(result)) return kScsiFailed;
    }
    return kScsiFailed;
}

int ScsiTransport::PassThroughIn(const SES_ADDR& address, const Cdb& cdb, std::span<uint8_t> buffer,
                                 uint32_t timeout_s, std::stop_token stop) {
    return RunWithRetries(address, cdb, DataDirection::kIn, buffer, timeout_s, stop);
}

int ScsiTransport::PassThroughOut(const SES_ADDR& address, const Cdb& cdb,
                                  std::span<const uint8_t> data, uint32_t timeout_s,
                                  std::stop_token stop) {
    // Hosts get their own copy: the buffer handed to a device is never the caller's.
    std::vector<uint8_t> copy(data.begin(), data.end());
    return RunWithRetries(address, cdb, DataDirection::kOut, copy, timeout_s, stop);
}

int ScsiTransport::ReadVpdIdentifier(const SES_ADDR& address, DeviceId& out, std::stop_token stop) {
    std::vector<uint8_t> page;
    size_t length = kFirstVpdLength;
    int received = 0;
    // Grow the allocation until the page fits; at 8192 the 4096-byte answer stands.
    while (true) {
        page.assign(length, 0);
        received = PassThroughIn(
            address, InquiryCdb(true, kDeviceIdentificationPage, static_cast<uint16_t>(length)),
            page, kVpdTimeoutSeconds, stop);
        if (received < 0) return received;
        if (static_cast<size_t>(received) < length || length * 2 >= kVpdLengthLimit) break;
        length *= 2;
    }
    auto id = FindNaaIdentifier(std::span<const uint8_t>(page.data(), received));
    if (!id) return kNotFound;
    out = *id;
    return kOk;
}

bool ScsiTransport::IsEnclosureServicesDevice(const SES_ADDR& address, std::stop_token stop) {
    std::vector<uint8_t> inquiry(kStandardInquiryLength);
    int received = PassThroughIn(address, InquiryCdb(false, 0, kStandardInquiryLength), inquiry,
                                 kVpdTimeoutSeconds, stop);
    return received >= 1 && inquiry[0] == kEnclosureServicesDevice;
}

std::vector<SES_ADDR> ScsiTransport::ScanAdapters(std::stop_token stop) {
    std::vector<SES_ADDR> found;
    for (const auto& host : Hosts()) {
        std::vector<ScsiUnit> units = host->ListUnits();
        std::stable_sort(units.begin(), units.end(), [](const ScsiUnit& a, const ScsiUnit& b) {
            return a.adapter < b.adapter;
        });
        for (const ScsiUnit& unit : units) {
            if (stop.stop_requested()) return found;
            SES_ADDR probe =
                SES_ADDR::Make(unit.adapter, DeviceId{}, unit.path_id, unit.target_id, unit.lun);
            if (!IsEnclosureServicesDevice(probe, stop)) continue;
            DeviceId id;
            if (ReadVpdIdentifier(probe, id, stop) != kOk) continue;
            found.push_back(
                SES_ADDR::Make(unit.adapter, id, unit.path_id, unit.target_id, unit.lun));
        }
    }
    return found;
}

ScsiTransport& ProcessTransport() {
    static ScsiTransport transport;
    static std::once_flag machine_devices_added;
    std::call_once(machine_devices_added, [] { transport.AddHost(std::make_shared<SgHost>()); });
    return transport;
}

}  // namespace halvorin
