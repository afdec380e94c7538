#include "enclosure/scsi/sg_host.h"

#include <gtest/gtest.h>

#include <fstream>

namespace halvorin {
namespace {

namespace fs = std::filesystem;

// A sysfs tree as Linux lays it out for SCSI generic devices.
class FakeSysfs {
  public:
    FakeSysfs()
        : root_(fs::temp_directory_path() / ("halvorin-sysfs-" + std::to_string(::getpid()))) {
        fs::remove_all(root_);
        fs::create_directories(root_ / "class/scsi_generic");
        fs::create_directories(root_ / "class/scsi_host");
    }
    ~FakeSysfs() { fs::remove_all(root_); }

    void AddDevice(const std::string& sg, const std::string& address, int type) {
        const fs::path device = root_ / "devices" / address;
        fs::create_directories(device);
        std::ofstream(device / "type") << type << "\n";
        fs::create_directories(root_ / "class/scsi_generic" / sg);
        fs::create_directory_symlink(device, root_ / "class/scsi_generic" / sg / "device");
        const std::string host = "host" + address.substr(0, address.find(':'));
        fs::create_directories(root_ / "class/scsi_host" / host);
    }
    const fs::path& root() const { return root_; }

  private:
    fs::path root_;
};

TEST(SgHost, ListsEnclosureCandidatesFromSysfsInAddressOrder) {
    FakeSysfs sysfs;
    sysfs.AddDevice("sg3", "6:0:9:0", 13);
    sysfs.AddDevice("sg0", "2:0:0:0", 0);  // a disk: never even asked
    sysfs.AddDevice("sg1", "2:0:4:0", 13);
    SgHost host(sysfs.root(), "/nonexistent-dev");
    auto units = host.ListUnits();
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0], (ScsiUnit{2, 0, 4, 0}));
    EXPECT_EQ(units[1], (ScsiUnit{6, 0, 9, 0}));
    EXPECT_TRUE(host.ServesAdapter(6));
    EXPECT_FALSE(host.ServesAdapter(7));
    EXPECT_EQ(host.NodeFor({6, 0, 9, 0}), fs::path("/nonexistent-dev/sg3"));
    EXPECT_FALSE(host.NodeFor({6, 0, 9, 1}));
}

TEST(SgHost, UnitThatCannotBeOpenedReportsNoDevice) {
    FakeSysfs sysfs;
    sysfs.AddDevice("sg1", "2:0:4:0", 13);
    SgHost host(sysfs.root(), "/nonexistent-dev");
    std::vector<uint8_t> buffer(36);
    ScsiIo io{{2, 0, 4, 0}, Cdb{0x12, 0, 0, 0, 36}, DataDirection::kIn, buffer, 5};
    EXPECT_EQ(host.Execute(io, {}).outcome, ScsiIoResult::Outcome::kNoDevice);
    io.unit.lun = 3;  // not in sysfs at all
    EXPECT_EQ(host.Execute(io, {}).outcome, ScsiIoResult::Outcome::kNoDevice);
}

TEST(SgHost, CdbLengthFollowsTheOperationCodeGroup) {
    EXPECT_EQ(CdbLengthForOpcode(0x12), 6);   // INQUIRY
    EXPECT_EQ(CdbLengthForOpcode(0x1C), 6);   // RECEIVE DIAGNOSTIC RESULTS
    EXPECT_EQ(CdbLengthForOpcode(0x3C), 10);  // READ BUFFER
    EXPECT_EQ(CdbLengthForOpcode(0x3B), 10);  // WRITE BUFFER
    EXPECT_EQ(CdbLengthForOpcode(0xA3), 12);
    EXPECT_EQ(CdbLengthForOpcode(0x88), 16);
    EXPECT_EQ(CdbLengthForOpcode(0xC0), 16);  // vendor specific
}

}  // namespace
}  // namespace halvorin
