// The simulated SES device, command by command, through the real transport.
#include <gtest/gtest.h>

#include "base/result_code.h"
#include "sim/ses_pages.h"
#include "tests/support/sim_fixture.h"

namespace halvorin {
namespace {

using test::SimFixture;

std::string Text(const std::vector<uint8_t>& bytes, size_t offset, size_t length) {
    return std::string(bytes.begin() + offset, bytes.begin() + offset + length);
}

std::vector<uint8_t> ControlPage(SimFixture& f) {
    auto config = f.Page(0x01);
    std::vector<uint8_t> page(sim::ControlPageLength(f.enclosure_->Snapshot()), 0);
    page[0] = 0x02;
    put_be16(&page[2], static_cast<uint32_t>(page.size() - 4));
    std::copy(config.begin() + 4, config.begin() + 8, page.begin() + 4);  // generation code
    return page;
}

class JbodDevice : public ::testing::Test {
  protected:
    SimFixture f{test::LoadShippedScenario("jbod24.json")};
};

TEST_F(JbodDevice, InquiryReportsAnEnclosureServicesDevice) {
    auto standard = f.In(Cdb{0x12, 0, 0, 0, 96});
    ASSERT_GE(standard.size(), 36u);
    EXPECT_EQ(standard[0], 0x0D);
    EXPECT_EQ(Text(standard, 8, 8), "HALVRN  ");
    EXPECT_EQ(Text(standard, 16, 16), "JB2412-12G      ");
    EXPECT_EQ(Text(standard, 32, 4), "2071");
    auto supported = f.In(Cdb{0x12, 1, 0x00, 0, 64});
    EXPECT_EQ(supported, (std::vector<uint8_t>{0x0D, 0x00, 0x00, 0x02, 0x00, 0x83}));
    int result = 0;
    f.In(Cdb{0x12, 1, 0x80, 0, 64}, &result);  // no unit serial number page
    EXPECT_EQ(result, kScsiFailed);
}

TEST_F(JbodDevice, DiscoveryFindsTheDeviceByItsIdentifier) {
    auto found = f.transport_.ScanAdapters();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0], f.Device());
    EXPECT_EQ(found[0].AdapterNumber(), sim::kFirstSimulatedAdapter);
}

TEST_F(JbodDevice, UnknownCommandsAndPagesAreIllegalRequests) {
    int result = 0;
    f.In(Cdb{0x4D, 0, 0x40}, &result);  // LOG SENSE
    EXPECT_EQ(result, kScsiFailed);
    f.Page(0x04, &result);  // string in page
    EXPECT_EQ(result, kScsiFailed);
    f.In(Cdb{0x1C, 0x00, 0x02, 0xFF, 0xFF}, &result);  // without PCV
    EXPECT_EQ(result, kScsiFailed);
    f.Vendor(5, 512, &result);  // no region at offset 5
    EXPECT_EQ(result, kScsiFailed);
    EXPECT_EQ(f.Page(0x00),
              (std::vector<uint8_t>{0, 0, 0, 7, 0x00, 0x01, 0x02, 0x05, 0x07, 0x0A, 0x0E}));
}

// The kernel's error handling and sg_ses send these to every device.
TEST_F(JbodDevice, TestUnitReadyAndRequestSenseAnswerAsEveryDeviceMust) {
    int result = -1;
    f.In(Cdb{0x00}, &result);  // TEST UNIT READY
    EXPECT_EQ(result, 0);
    const auto fixed = f.In(Cdb{0x03, 0x00, 0x00, 0x00, 252}, &result);
    ASSERT_EQ(fixed.size(), 18u);
    EXPECT_EQ(fixed[0], 0x70);
    EXPECT_EQ(fixed[2] & 0x0F, 0x00);  // NO SENSE
    EXPECT_EQ(fixed[7], 10);
    const auto descriptor = f.In(Cdb{0x03, 0x01, 0x00, 0x00, 252});
    EXPECT_EQ(descriptor, (std::vector<uint8_t>{0x72, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(f.In(Cdb{0x03, 0x00, 0x00, 0x00, 8}).size(), 8u);  // allocation length holds
}

TEST_F(JbodDevice, AllocationLengthLimitsWhatIsSent) {
    auto cut = f.In(Cdb{0x1C, 0x01, 0x01, 0x00, 0x10});
    EXPECT_EQ(cut.size(), 16u);
    auto whole = f.Page(0x01);
    EXPECT_EQ(whole.size(), be16(&whole[2]) + 4u);
}

TEST_F(JbodDevice, ControlPageSwitchesTheIdentifyIndicatorOfASlot) {
    auto page = ControlPage(f);
    page[8 + 4 + 2 * 4] = 0x80;      // slot 3: SELECT
    page[8 + 4 + 2 * 4 + 2] = 0x02;  // RQST IDENT
    page[8 + 4 + 5 * 4] = 0x80;      // slot 6: SELECT without RQST IDENT
    ASSERT_GE(f.SendPage(page), 0);
    auto config = f.Page(0x01);
    auto status = f.Page(0x02);
    EXPECT_EQ(status[test::ElementOffset(config, 0, 2) + 2] & 0x02, 0x02);
    EXPECT_EQ(status[test::ElementOffset(config, 0, 5) + 2] & 0x02, 0x00);

    page[8 + 4 + 2 * 4 + 2] = 0x00;  // SELECT without RQST IDENT turns it off
    ASSERT_GE(f.SendPage(page), 0);
    status = f.Page(0x02);
    EXPECT_EQ(status[test::ElementOffset(config, 0, 2) + 2] & 0x02, 0x00);
}

TEST_F(JbodDevice, ControlPageOfTheWrongLengthOrGenerationIsRefused) {
    auto page = ControlPage(f);
    auto longer = page;
    longer.insert(longer.end(), 4, 0);
    put_be16(&longer[2], static_cast<uint32_t>(longer.size() - 4));
    EXPECT_EQ(f.SendPage(longer), kScsiFailed);
    page[7] ^= 0xFF;
    EXPECT_EQ(f.SendPage(page), kScsiFailed);
}

TEST_F(JbodDevice, VendorRegionsHaveTheirLayouts) {
    auto ports = f.Vendor(7, 2048);
    ASSERT_EQ(ports.size(), 12u + 4 * 24);
    EXPECT_EQ(be24(&ports[1]), ports.size() - 4);
    EXPECT_EQ(ports[5], 4);                    // entry count
    EXPECT_EQ(ports[12 + 16], 11);             // 12 Gbit/s
    EXPECT_EQ(ports[12 + 19], 0x41);           // controller 1, attached
    EXPECT_EQ(ports[12 + 20], 1);              // port 1
    EXPECT_EQ(ports[12 + 3 * 24 + 19], 0x02);  // controller 2, nothing attached

    auto disks = f.Vendor(8, 4096);
    ASSERT_EQ(disks.size(), 12u + 24 * 48);
    EXPECT_EQ(Text(disks, 12 + 4, 8), "SEAGATE ");
    EXPECT_EQ(Text(disks, 12 + 28, 20), "ZL2A0001            ");
    EXPECT_EQ(Text(disks, 12 + 6 * 48 + 4, 8), "        ");  // slot 7 is empty

    auto volts = f.Vendor(9, 2048);
    ASSERT_EQ(volts[5], 3);
    EXPECT_EQ(be16(&volts[12 + 2]), 1200);
    EXPECT_EQ(be16(&volts[12 + 2 * 4 + 2]), 330);

    auto expanders = f.Vendor(10, 2048);
    ASSERT_EQ(expanders[5], 2);
    EXPECT_EQ(expanders[12], 1);
    EXPECT_EQ(expanders[12 + 4], 0x50);

    auto buzzer = f.Vendor(2, 512);
    ASSERT_EQ(buzzer.size(), 16u);
    EXPECT_EQ(buzzer[12], 1);  // the scenario starts with the buzzer sounding
    EXPECT_EQ(f.Vendor(3, 512)[12], 0);
    EXPECT_EQ(f.Vendor(4, 512).size(), 48u);
}

TEST_F(JbodDevice, WritesToTheVendorBufferAreReadBack) {
    std::vector<uint8_t> mute(12, 0);
    ASSERT_GE(f.WriteVendor(2, mute), 0);
    EXPECT_EQ(f.Vendor(2, 512)[12], 0);

    std::vector<uint8_t> led(12, 0);
    led[8] = 1;
    ASSERT_GE(f.WriteVendor(3, led), 0);
    EXPECT_EQ(f.Vendor(3, 512)[12], 1);

    std::vector<uint8_t> name(44, 0);
    const std::string text = "RACK7-SHELF2";
    std::copy(text.begin(), text.end(), name.begin() + 12);
    ASSERT_GE(f.WriteVendor(4, name), 0);
    auto read = f.Vendor(4, 512);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&read[16])), text);

    std::vector<uint8_t> zoning(8 + 2 * 14, 0);
    zoning[1] = 2;
    zoning[8 + 14] = 1;
    zoning[8 + 14 + 4] = 0xA5;
    ASSERT_GE(f.WriteVendor(6, zoning), 0);
    auto zones = f.Vendor(6, 2048);
    ASSERT_EQ(zones[5], 2);
    EXPECT_EQ(zones[12 + 14 + 4], 0xA5);
}

TEST_F(JbodDevice, MalformedVendorWritesAreRefused) {
    std::vector<uint8_t> bad_prefix(12, 0);
    bad_prefix[0] = 1;
    EXPECT_EQ(f.WriteVendor(3, bad_prefix), kScsiFailed);
    EXPECT_EQ(f.WriteVendor(3, std::vector<uint8_t>(11, 0)), kScsiFailed);
    std::vector<uint8_t> zoning(8 + 14, 0);
    zoning[1] = 2;  // announces two entries, holds one
    EXPECT_EQ(f.WriteVendor(6, zoning), kScsiFailed);
    EXPECT_EQ(f.WriteVendor(0, {7, 0, 0}), kScsiFailed);  // neither restart nor shutdown
    EXPECT_EQ(f.WriteVendor(7, std::vector<uint8_t>(12, 0)), kScsiFailed);  // ports are read-only
}

// ---- firmware download ----------------------------------------------------------

std::vector<uint8_t> DownloadPiece(uint32_t generation, uint8_t mode, uint8_t buffer,
                                   uint32_t offset, uint32_t image_length,
                                   const std::vector<uint8_t>& data) {
    std::vector<uint8_t> page((data.size() + 27) & ~size_t{3}, 0);
    page[0] = 0x0E;
    put_be16(&page[2], static_cast<uint32_t>(page.size() - 4));
    put_be32(&page[4], generation);
    page[8] = mode;
    page[11] = buffer;
    put_be32(&page[12], offset);
    put_be32(&page[16], image_length);
    put_be32(&page[20], static_cast<uint32_t>(data.size()));
    std::copy(data.begin(), data.end(), page.begin() + 24);
    return page;
}

struct DownloadStatus {
    uint8_t status, expected_buffer;
    uint32_t expected_offset;
};

DownloadStatus ReadDownloadStatus(SimFixture& f) {
    auto page = f.Page(0x0E);
    return {page[8 + 2], page[8 + 11], be32(&page[8 + 12])};
}

int SendImage(SimFixture& f, uint8_t mode, uint8_t buffer, const std::vector<uint8_t>& image,
              uint32_t from = 0) {
    const uint32_t generation = be32(&f.Page(0x01)[4]);
    for (uint32_t offset = from; offset < image.size(); offset += 1024) {
        const size_t n = std::min<size_t>(1024, image.size() - offset);
        std::vector<uint8_t> piece(image.begin() + offset, image.begin() + offset + n);
        const int result = f.SendPage(DownloadPiece(generation, mode, buffer, offset,
                                                    static_cast<uint32_t>(image.size()), piece));
        if (result < 0) return result;
        if (offset + n < image.size() && ReadDownloadStatus(f).status != 0x01) return -100;
    }
    return 0;
}

std::vector<uint8_t> Image(size_t size, uint8_t seed) {
    std::vector<uint8_t> image(size);
    for (size_t i = 0; i < size; ++i)
        image[i] = static_cast<uint8_t>(i * 7 + seed);
    return image;
}

TEST_F(JbodDevice, FreshDownloadRunsBothImagesAndChangesTheRevision) {
    const auto generation_before = be32(&f.Page(0x01)[4]);
    EXPECT_EQ(ReadDownloadStatus(f).status, 0x00);
    const auto image_a = Image(3000, 1);  // last piece 952 bytes
    const auto image_b = Image(2048, 2);
    ASSERT_EQ(SendImage(f, 7, 2, image_a), 0);
    auto after_a = ReadDownloadStatus(f);
    EXPECT_EQ(after_a.status, 0x02);
    EXPECT_EQ(ReadDownloadStatus(f).status, 0x00);  // reported once
    ASSERT_EQ(SendImage(f, 6, 1, image_b), 0);
    EXPECT_EQ(ReadDownloadStatus(f).status, 0x10);
    EXPECT_EQ(ReadDownloadStatus(f).status, 0x00);

    EXPECT_EQ(f.enclosure_->DownloadedImage(0, 2), image_a);
    EXPECT_EQ(f.enclosure_->DownloadedImage(0, 1), image_b);
    auto inquiry = f.In(Cdb{0x12, 0, 0, 0, 96});
    EXPECT_EQ(Text(inquiry, 32, 4), "2081");
    auto config = f.Page(0x01);
    EXPECT_EQ(be32(&config[4]), generation_before + 1);
    EXPECT_EQ(Text(config, 8 + 36, 4), "2081");
}

TEST_F(JbodDevice, OutOfOrderPieceDiscardsTheDownload) {
    const uint32_t generation = be32(&f.Page(0x01)[4]);
    const auto piece = Image(1024, 3);
    ASSERT_GE(f.SendPage(DownloadPiece(generation, 7, 2, 0, 4096, piece)), 0);
    EXPECT_EQ(ReadDownloadStatus(f).status, 0x01);
    EXPECT_EQ(ReadDownloadStatus(f).expected_offset, 1024u);
    ASSERT_GE(f.SendPage(DownloadPiece(generation, 7, 2, 2048, 4096, piece)), 0);  // skips 1024
    EXPECT_EQ(ReadDownloadStatus(f).status, 0x80);
    EXPECT_EQ(ReadDownloadStatus(f).status, 0x00);
    // The second image cannot start before the first is stored.
    ASSERT_GE(f.SendPage(DownloadPiece(generation, 6, 1, 0, 1024, piece)), 0);
    EXPECT_EQ(ReadDownloadStatus(f).status, 0x80);
}

TEST(SimDownload, ResumedDeviceExpectsTheSecondImageWhereItStopped) {
    sim::Scenario scenario = test::LoadShippedScenario("jbod24.json");
    scenario.download = {0x01, 1, 2048};
    SimFixture f(scenario);
    auto status = ReadDownloadStatus(f);
    EXPECT_EQ(status.status, 0x01);
    EXPECT_EQ(status.expected_buffer, 1);
    EXPECT_EQ(status.expected_offset, 2048u);
    const auto image_b = Image(4096, 9);
    ASSERT_EQ(SendImage(f, 6, 1, image_b, 2048), 0);
    EXPECT_EQ(ReadDownloadStatus(f).status, 0x10);
    auto stored = f.enclosure_->DownloadedImage(0, 1);
    ASSERT_EQ(stored.size(), image_b.size());
    EXPECT_TRUE(std::equal(image_b.begin() + 2048, image_b.end(), stored.begin() + 2048));
}

TEST_F(JbodDevice, DownloadPageNotPaddedToFourBytesIsRefused) {
    const uint32_t generation = be32(&f.Page(0x01)[4]);
    auto page = DownloadPiece(generation, 7, 2, 0, 10, Image(10, 0));
    page.push_back(0);  // 37 bytes
    put_be16(&page[2], static_cast<uint32_t>(page.size() - 4));
    EXPECT_EQ(f.SendPage(page), kScsiFailed);
}

}  // namespace
}  // namespace halvorin
