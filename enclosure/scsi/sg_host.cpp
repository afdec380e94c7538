#include "enclosure/scsi/sg_host.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <system_error>

namespace halvorin {

namespace {

namespace fs = std::filesystem;

constexpr int kEnclosureServicesType = 0x0D;
constexpr uint8_t kHostTimedOut = 0x03;    // DID_TIME_OUT
constexpr uint8_t kDriverTimedOut = 0x06;  // DRIVER_TIMEOUT
constexpr uint8_t kDriverSense = 0x08;     // DRIVER_SENSE: sense data valid, not an error
constexpr size_t kPageSize = 4096;

// Parses "host:channel:target:lun" as sysfs names a SCSI device.
std::optional<ScsiUnit> ParseScsiAddress(const std::string& name) {
    unsigned host = 0, channel = 0, target = 0, lun = 0;
    char tail = 0;
    if (std::sscanf(name.c_str(), "%u:%u:%u:%u%c", &host, &channel, &target, &lun, &tail) != 4) {
        return std::nullopt;
    }
    if (channel > 255 || target > 255 || lun > 255) return std::nullopt;
    return ScsiUnit{host, static_cast<uint8_t>(channel), static_cast<uint8_t>(target),
                    static_cast<uint8_t>(lun)};
}

int ReadIntFile(const fs::path& path) {
    std::ifstream in(path);
    int value = -1;
    if (!(in >> value)) return -1;
    return value;
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using AlignedBuffer = std::unique_ptr<uint8_t, FreeDeleter>;

AlignedBuffer AllocateAligned(size_t size) {
    void* p = nullptr;
    if (posix_memalign(&p, kPageSize, std::max(size, size_t{1})) != 0) return nullptr;
    return AlignedBuffer(static_cast<uint8_t*>(p));
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

}  // namespace

uint8_t CdbLengthForOpcode(uint8_t opcode) {
    switch (opcode >> 5) {
        case 0:
            return 6;
        case 1:
        case 2:
            return 10;
        case 5:
            return 12;
        default:
            return 16;  // group 4, and reserved or vendor groups
    }
}

SgHost::SgHost(fs::path sysfs, fs::path dev) : sysfs_(std::move(sysfs)), dev_(std::move(dev)) {}

std::vector<SgHost::Node> SgHost::ListNodes() const {
    std::vector<Node> nodes;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysfs_ / "class/scsi_generic", ec)) {
        const fs::path device_link = entry.path() / "device";
        const fs::path target = fs::read_symlink(device_link, ec);
        if (ec) {
            ec.clear();
            continue;
        }
        auto unit = ParseScsiAddress(target.filename().string());
        if (!unit) continue;
        nodes.push_back({dev_ / entry.path().filename(), *unit, ReadIntFile(device_link / "type")});
    }
    std::sort(nodes.begin(), nodes.end(), [](const Node& a, const Node& b) {
        return std::tie(a.unit.adapter, a.unit.path_id, a.unit.target_id, a.unit.lun) <
               std::tie(b.unit.adapter, b.unit.path_id, b.unit.target_id, b.unit.lun);
    });
    return nodes;
}

std::vector<ScsiUnit> SgHost::ListUnits() {
    std::vector<ScsiUnit> units;
    for (const Node& node : ListNodes()) {
        // Skip units sysfs already knows to be something else: no reason to
        // send even an INQUIRY to a data disk.
        if (node.peripheral_type == -1 || node.peripheral_type == kEnclosureServicesType) {
            units.push_back(node.unit);
        }
    }
    return units;
}

bool SgHost::ServesAdapter(uint32_t adapter) const {
    std::error_code ec;
    return fs::exists(sysfs_ / "class/scsi_host" / ("host" + std::to_string(adapter)), ec);
}

std::optional<fs::path> SgHost::NodeFor(const ScsiUnit& unit) const {
    for (const Node& node : ListNodes()) {
        if (node.unit == unit) return node.dev_path;
    }
    return std::nullopt;
}

ScsiIoResult SgHost::Execute(const ScsiIo& io, std::stop_token /*stop*/) {
    ScsiIoResult result;
    auto node = NodeFor(io.unit);
    if (!node) {
        result.outcome = ScsiIoResult::Outcome::kNoDevice;
        return result;
    }
    FileDescriptor fd(::open(node->c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        result.outcome = ScsiIoResult::Outcome::kNoDevice;
        return result;
    }
    AlignedBuffer buffer = AllocateAligned(io.data.size());
    if (!buffer) return result;  // kFailed
    if (io.direction == DataDirection::kOut && !io.data.empty()) {
        std::memcpy(buffer.get(), io.data.data(), io.data.size());
    }

    Cdb cdb = io.cdb;
    sg_io_hdr_t hdr{};
    hdr.interface_id = 'S';
    hdr.cmdp = cdb.data();
    hdr.cmd_len = CdbLengthForOpcode(cdb[0]);
    hdr.sbp = result.sense.data();
    hdr.mx_sb_len = static_cast<unsigned char>(result.sense.size());
    hdr.dxfer_len = static_cast<unsigned int>(io.data.size());
    hdr.dxferp = io.data.empty() ? nullptr : buffer.get();
    hdr.dxfer_direction = io.data.empty()                      ? SG_DXFER_NONE
                          : io.direction == DataDirection::kIn ? SG_DXFER_FROM_DEV
                                                               : SG_DXFER_TO_DEV;
    hdr.timeout = io.timeout_s * 1000u;

    if (::ioctl(fd.get(), SG_IO, &hdr) < 0) return result;  // kFailed
    const uint8_t driver = hdr.driver_status & 0x0F;
    if (hdr.host_status == kHostTimedOut || driver == kDriverTimedOut) {
        result.outcome = ScsiIoResult::Outcome::kTimedOut;
        return result;
    }
    if (hdr.host_status != 0 || (driver != 0 && driver != kDriverSense)) return result;

    result.outcome = ScsiIoResult::Outcome::kCompleted;
    result.status = hdr.status;
    result.sense_length = hdr.sb_len_wr;
    const int resid = std::clamp(hdr.resid, 0, static_cast<int>(io.data.size()));
    result.transferred = static_cast<uint32_t>(io.data.size()) - static_cast<uint32_t>(resid);
    if (io.direction == DataDirection::kIn) {
        std::memcpy(io.data.data(), buffer.get(), result.transferred);
    }
    return result;
}

}  // namespace halvorin
