#include "enclosure/pages/control_pages.h"

#include "enclosure/pages/cdb.h"
#include "tests/pages/pages_fixture.h"

namespace halvorin {
namespace {

using test::TypeDescription;

class ControlPageTest : public test::PagesTest {};

TEST_F(ControlPageTest, AllZeroPageOfFullLengthWhenNothingIsPending) {
    ASSERT_EQ(Configure({{kTypeArrayDeviceSlot, 4}, {kTypeCooling, 2}}, 0x01020304), kOk);
    auto page = BuildEnclosureControlPage(dev_.get());
    ASSERT_EQ(page.size(), 8u + 5 * 4 + 3 * 4);
    EXPECT_EQ(page[0], 0x02);
    EXPECT_EQ(be16(&page[2]), page.size() - 4);
    EXPECT_EQ(be32(&page[4]), 0x01020304u);
    EXPECT_TRUE(std::all_of(page.begin() + 8, page.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(ControlPageTest, IdentifyOnAndOffInOnePageConsumesBothRequests) {
    ASSERT_EQ(Configure({{kTypeArrayDeviceSlot, 4}}), kOk);
    Elem(0, 1)->pending_request = kRequestIdentifyOn;
    Elem(0, 3)->pending_request = kRequestIdentifyOff;
    auto page = BuildEnclosureControlPage(dev_.get());
    const size_t slot1 = 8 + 4 + 1 * 4, slot3 = 8 + 4 + 3 * 4;
    EXPECT_EQ(page[slot1], 0x80);
    EXPECT_EQ(page[slot1 + 2], 0x02);
    EXPECT_EQ(page[slot3], 0x80);
    EXPECT_EQ(page[slot3 + 2], 0x00);
    EXPECT_EQ(Elem(0, 1)->pending_request, 0);
    EXPECT_EQ(Elem(0, 3)->pending_request, 0);
}

TEST_F(ControlPageTest, SystemTypesDoNotLengthenThePage) {
    ASSERT_EQ(Configure({{kTypeArrayDeviceSlot, 2}}), kOk);
    ELEM_TYPE_DESC ports;
    ports.type = kTypePortEntry;
    ports.possible_elements = 8;
    ports.subenc = Sub();
    dev_->type_descs.push_back(ports);
    EXPECT_EQ(BuildEnclosureControlPage(dev_.get()).size(), 8u + 3 * 4);
}

// A removed device's sub-enclosures are freed; its type descriptors must not
// keep pointing at them (the page stays full length, with nothing selected).
TEST_F(ControlPageTest, RemovedDeviceForgetsItsSubEnclosures) {
    ASSERT_EQ(Configure({{kTypeArrayDeviceSlot, 2, 0}, {kTypeArrayDeviceSlot, 3, 1}}, 1, {},
                        {{0, 0}, {1, 1}}),
              kOk);
    Elem(1, 2, 1)->pending_request = kRequestIdentifyOn;
    MarkDeviceRemoved(dev_.get());
    ReleaseDevice(dev_.get());  // the domain array's reference, as the device list gives it back
    for (const ELEM_TYPE_DESC& d : dev_->type_descs)
        EXPECT_EQ(d.subenc, nullptr);
    auto page = BuildEnclosureControlPage(dev_.get());
    ASSERT_EQ(page.size(), 8u + 3 * 4 + 4 * 4);
    EXPECT_TRUE(std::all_of(page.begin() + 8, page.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(ControlPageTest, DownloadPieceIsPaddedToFourBytes) {
    ASSERT_EQ(Configure({}, 0xA0B0C0D0), kOk);
    std::vector<uint8_t> data(1001, 0x77);
    auto page = BuildDownloadControlPage(dev_.get(), {0, 7, 2, 4096, 9000, data});
    EXPECT_EQ(page.size(), 24u + 1004);
    EXPECT_EQ(page[0], 0x0E);
    EXPECT_EQ(be16(&page[2]), page.size() - 4);
    EXPECT_EQ(be32(&page[4]), 0xA0B0C0D0u);
    EXPECT_EQ(page[8], 7);
    EXPECT_EQ(page[11], 2);
    EXPECT_EQ(be32(&page[12]), 4096u);
    EXPECT_EQ(be32(&page[16]), 9000u);
    EXPECT_EQ(be32(&page[20]), 1001u);
    EXPECT_EQ(page[24 + 1000], 0x77);
    EXPECT_EQ(page[24 + 1001], 0);
    EXPECT_EQ(
        BuildDownloadControlPage(dev_.get(), {0, 6, 1, 0, 4, std::vector<uint8_t>(1024, 1)}).size(),
        1048u);
}

TEST(DownloadStatus, DescriptorOfTheSubEnclosureInsideTheBytesReceived) {
    std::vector<uint8_t> page(8 + 32, 0);
    page[0] = 0x0E;
    page[1] = 1;
    page[8 + 1] = 0;
    page[8 + 2] = 0x01;
    page[8 + 16 + 1] = 1;
    page[8 + 16 + 2] = 0x10;
    page[8 + 16 + 11] = 1;
    put_be32(&page[8 + 16 + 12], 5120);
    DownloadStatus status;
    ASSERT_EQ(DecodeDownloadStatus(page, 1, status), kOk);
    EXPECT_EQ(status.status, 0x10);
    EXPECT_EQ(status.expected_buffer_id, 1);
    EXPECT_EQ(status.expected_offset, 5120u);
    EXPECT_EQ(DecodeDownloadStatus(std::span(page).first(30), 1, status),
              kGeneralFailure);  // cut off
    EXPECT_EQ(DecodeDownloadStatus(page, 7, status), kGeneralFailure);
    EXPECT_EQ(DecodeDownloadStatus(std::span(page).first(7), 0, status), kShortOrTooLarge);
}

TEST(Cdbs, EveryCommandOfTheSystem) {
    EXPECT_EQ(ReadSesPageCdb(0x02), (Cdb{0x1C, 0x01, 0x02, 0xFF, 0xFF, 0x00}));
    EXPECT_EQ(WriteSesPageCdb(0x0E, 1048), (Cdb{0x1D, 0x10, 0x0E, 0x04, 0x18, 0x00}));
    EXPECT_EQ(ReadVendorBufferCdb(8, 4096), (Cdb{0x3C, 0x01, 0xE9, 0, 0, 8, 0, 16, 0, 0}));
    EXPECT_EQ(WriteVendorBufferCdb(4, 44), (Cdb{0x3B, 0x01, 0xE9, 0, 0, 4, 0, 0, 44, 0}));
    EXPECT_EQ(*CdbForKind(kReadUidLed), ReadVendorBufferCdb(3, 512));
    EXPECT_EQ(*CdbForKind(kReadZones), ReadVendorBufferCdb(6, 2048));
    EXPECT_FALSE(CdbForKind(3));
    EXPECT_FALSE(CdbForKind(8192));
}

}  // namespace
}  // namespace halvorin
