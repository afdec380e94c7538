#include "enclosure/model/zone_bits.h"

#include <gtest/gtest.h>

#include <array>

namespace halvorin {
namespace {

TEST(ZoneBits, SlotKIsBitKMod8OfByteKDiv8LeastSignificantFirst) {
    std::array<uint8_t, 12> data{};
    for (int k : {0, 7, 8, 79, 95})
        SetZoneSlot(data, k, true);
    EXPECT_EQ(data[0], 0x81);   // slots 1 and 8
    EXPECT_EQ(data[1], 0x01);   // slot 9
    EXPECT_EQ(data[9], 0x80);   // slot 80, the last the zoning table carries
    EXPECT_EQ(data[11], 0x80);  // slot 96
    EXPECT_TRUE(ZoneHasSlot(data, 79));
    EXPECT_FALSE(ZoneHasSlot(data, 78));
    SetZoneSlot(data, 7, false);
    EXPECT_EQ(data[0], 0x01);
    // Beyond the data nothing is read or written.
    EXPECT_FALSE(ZoneHasSlot(data, 96));
    EXPECT_FALSE(ZoneHasSlot(data, -1));
    SetZoneSlot(data, 200, true);
    SetZoneSlot(data, -3, true);
    EXPECT_EQ(data[11], 0x80);
}

}  // namespace
}  // namespace halvorin
