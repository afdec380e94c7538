#include "net/protocol/wire_format.h"

#include <gtest/gtest.h>

namespace halvorin {
namespace {

TEST(WireFormat, HeaderFieldsTravelBigEndianAtTheirOffsets) {
    MSG_HDR header;
    header.length = 0x00010000;
    header.tag = 0x12345678;
    header.status = -18;
    header.type = MSG_SCSI_IN;
    header.request = 1;
    std::array<uint8_t, kHeaderSize> bytes;
    EncodeHeader(header, bytes);
    const std::array<uint8_t, kHeaderSize> expected = {
        0x00, 0x01, 0x00, 0x00,  // length
        0x12, 0x34, 0x56, 0x78,  // tag
        0x19, 0x71, 0x02, 0x22,  // magic
        0xFF, 0xFF, 0xFF, 0xEE,  // status -18
        0x04, 0x01};             // type, request, reserved zeros follow
    EXPECT_EQ(bytes, expected);
    MSG_HDR back = DecodeHeader(bytes);
    EXPECT_EQ(back.length, header.length);
    EXPECT_EQ(back.tag, header.tag);
    EXPECT_EQ(back.status, -18);
    EXPECT_EQ(back.type, MSG_SCSI_IN);
    EXPECT_TRUE(IsUsableHeader(back));
}

TEST(WireFormat, LengthAboveLimitOrWrongMagicMakesHeaderUnusable) {
    MSG_HDR header;
    header.length = kMaxPayload;
    EXPECT_TRUE(IsUsableHeader(header));
    header.length = kMaxPayload + 1;
    EXPECT_FALSE(IsUsableHeader(header));
    header.length = 0;
    header.magic = 0x22027119;
    EXPECT_FALSE(IsUsableHeader(header));
}

TEST(WireFormat, HelloNameUnitsAreNetworkOrderAndSurviveTheTrip) {
    const std::u16string name = u"Ströme-\u6A5F";
    auto bytes = EncodeHello(HELLO_INFO{1, name});
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[4], 0x00);  // 'S' = 0x0053, high byte first
    EXPECT_EQ(bytes[5], 0x53);
    EXPECT_EQ(bytes[4 + 7 * 2], 0x6A);
    EXPECT_EQ(bytes[5 + 7 * 2], 0x5F);
    auto back = DecodeHello(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->computer_name, name);
    EXPECT_EQ(back->host_kind, 1);
}

TEST(WireFormat, HelloWithoutTerminatorIsCutTo255UnitsAndShortHelloIsRejected) {
    std::array<uint8_t, kHelloInfoSize> bytes{};
    for (size_t i = 0; i < 256; ++i)
        bytes[4 + 2 * i + 1] = 'x';
    auto hello = DecodeHello(bytes);
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->computer_name.size(), 255u);
    EXPECT_FALSE(DecodeHello(std::span<const uint8_t>(bytes.data(), kHelloInfoSize - 1)));
    // Encoding never fills the last unit, so the peer always finds a terminator.
    auto encoded = EncodeHello(HELLO_INFO{1, std::u16string(300, u'y')});
    EXPECT_EQ(encoded[kHelloInfoSize - 2], 0);
    EXPECT_EQ(encoded[kHelloInfoSize - 1], 0);
}

TEST(WireFormat, ScsiRequestKeepsAddressBytesAndBigEndianCounts) {
    SCSI_REQ req;
    req.address = SES_ADDR::Make(3, DeviceId{1, 2, 3, 4, 5, 6, 7, 8}, 0, 9, 0);
    req.cdb = {0x1C, 0x01, 0x02, 0xFF, 0xFF};
    req.transfer_length = 0xFFFF;
    req.timeout_s = 57;
    auto bytes = EncodeScsiReq(req);
    EXPECT_EQ(bytes[0], '\\');  // the path is little-endian UTF-16
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(bytes[64], 1);
    EXPECT_EQ(bytes[73], 9);
    EXPECT_EQ(bytes[76], 0x1C);
    EXPECT_EQ((std::array<uint8_t, 4>{bytes[92], bytes[93], bytes[94], bytes[95]}),
              (std::array<uint8_t, 4>{0, 0, 0xFF, 0xFF}));
    EXPECT_EQ(bytes[99], 57);
    auto back = DecodeScsiReq(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->address, req.address);
    EXPECT_EQ(back->cdb, req.cdb);
    EXPECT_EQ(back->transfer_length, 0xFFFFu);
    EXPECT_FALSE(DecodeScsiReq(std::span<const uint8_t>(bytes.data(), 99)));
}

TEST(SesAddr, AdapterPathNamesTheAdapterNumber) {
    SES_ADDR addr = SES_ADDR::Make(12, DeviceId{}, 1, 2, 3);
    EXPECT_EQ(addr.AdapterPath(), u"\\\\.\\Scsi12:");
    EXPECT_EQ(addr.AdapterNumber(), 12u);
    EXPECT_EQ(addr.PathId(), 1);
    EXPECT_EQ(addr.TargetId(), 2);
    EXPECT_EQ(addr.Lun(), 3);
    SES_ADDR odd = addr;
    odd.bytes[2 * 8] = 'x';  // "\\.\Scsix2:"
    EXPECT_FALSE(odd.AdapterNumber());
}

}  // namespace
}  // namespace halvorin
