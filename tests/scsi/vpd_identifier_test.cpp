#include "enclosure/scsi/vpd_identifier.h"

#include <gtest/gtest.h>

#include "enclosure/scsi/sense_data.h"

namespace halvorin {
namespace {

TEST(VpdIdentifier, WalkStopsAtDescriptorRunningPastThePage) {
    // Page length says 12 but the only descriptor claims 8 bytes beyond its header
    // starting 8 bytes in: it does not fit.
    std::vector<uint8_t> page = {0x0D, 0x83, 0x00, 0x0C, 0x01, 0x02, 0x00, 0x04, 1, 2, 3, 4,
                                 0x01, 0x03, 0x00, 0x08, 9,    9,    9,    9,    9, 9, 9, 9};
    EXPECT_FALSE(FindNaaIdentifier(page));
    page[3] = 20;
    EXPECT_TRUE(FindNaaIdentifier(page));
    // Fewer bytes received than the page length claims.
    EXPECT_FALSE(FindNaaIdentifier(std::span<const uint8_t>(page.data(), 20)));
}

TEST(VpdIdentifier, PageOfAnotherDeviceTypeHasNoIdentifier) {
    std::vector<uint8_t> page = {0x00, 0x83, 0x00, 0x0C, 0x01, 0x03, 0x00, 0x08,
                                 1,    2,    3,    4,    5,    6,    7,    8};
    EXPECT_FALSE(FindNaaIdentifier(page));
    page[0] = 0x0D;
    EXPECT_EQ(FindNaaIdentifier(page), (DeviceId{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(SenseData, KeyFromFixedAndDescriptorFormats) {
    const uint8_t fixed[] = {0xF0, 0x00, 0x06};
    EXPECT_EQ(SenseKey(fixed), 0x06);  // valid bit set, response code 0x70
    const uint8_t deferred[] = {0x71, 0x00, 0x05};
    EXPECT_EQ(SenseKey(deferred), 0x05);
    const uint8_t descriptor[] = {0x72, 0x06};
    EXPECT_EQ(SenseKey(descriptor), 0x06);
    const uint8_t vendor[] = {0x7F, 0x06, 0x06};
    EXPECT_FALSE(SenseKey(vendor));
    EXPECT_FALSE(SenseKey(std::span<const uint8_t>(fixed, 2)));
    EXPECT_FALSE(SenseKey({}));
}

}  // namespace
}  // namespace halvorin
