#include "enclosure/ops/firmware_header.h"

#include <gtest/gtest.h>

#include <string>

namespace halvorin {
namespace {

std::span<const uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

std::string Hex(const Md5Digest& d) {
    std::string out;
    char b[3];
    for (uint8_t x : d) {
        std::snprintf(b, sizeof b, "%02x", x);
        out += b;
    }
    return out;
}

TEST(FirmwareCheckValue, IsTheReflectedCrcWithoutInversions) {
    EXPECT_EQ(FirmwareCrc(Bytes("abc")), 0xCA6598D0u);
    EXPECT_EQ(FirmwareCrc({}), 0u);
    // Fed in pieces it gives the same value.
    EXPECT_EQ(FirmwareCrc(Bytes("c"), FirmwareCrc(Bytes("ab"))), 0xCA6598D0u);
}

TEST(Md5, MatchesTheRfc1321TestSuite) {
    const std::pair<std::string, std::string> suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [input, digest] : suite)
        EXPECT_EQ(Hex(Md5Of(Bytes(input))), digest) << input;
    Md5 pieces;
    pieces.Update(Bytes("message "));
    pieces.Update(Bytes("digest"));
    EXPECT_EQ(Hex(pieces.Finish()), "f96b697d7cb7938d525a2f31aaf161d0");
}

TEST(FirmwareHeader, FieldsSitLittleEndianAtTheirOffsets) {
    FirmwareHeader header;
    const std::string model = "m810";
    std::copy(model.begin(), model.end(), header.model.begin());
    header.a = {76, 0x01020304, Md5Of(Bytes("a"))};
    header.b = {0x01020380, 5, Md5Of(Bytes("b"))};
    auto bytes = EncodeFirmwareHeader(header);
    EXPECT_EQ(bytes[0], 0x42);
    EXPECT_EQ(bytes[3], 0x13);
    EXPECT_EQ(bytes[4], 'm');
    EXPECT_EQ(bytes[24], 76);
    EXPECT_EQ(bytes[28], 0x04);
    EXPECT_EQ(bytes[31], 0x01);
    EXPECT_EQ(bytes[32], 0x0c);  // first byte of MD5("a")
    EXPECT_EQ(bytes[52], 5);
    EXPECT_FALSE(IsValidFirmwareHeader(bytes));  // no check value yet
    header.check = FirmwareCrc(std::span<const uint8_t>(bytes.data(), 72));
    bytes = EncodeFirmwareHeader(header);
    EXPECT_TRUE(IsValidFirmwareHeader(bytes));
    const FirmwareHeader back = DecodeFirmwareHeader(bytes);
    EXPECT_EQ(back.ModelText(), "m810");
    EXPECT_EQ(back.a.length, 0x01020304u);
    EXPECT_EQ(back.b.offset, 0x01020380u);
    EXPECT_EQ(back.b.md5, Md5Of(Bytes("b")));
    bytes[40] ^= 1;  // a flipped bit anywhere before the check value
    EXPECT_FALSE(IsValidFirmwareHeader(bytes));
}

}  // namespace
}  // namespace halvorin
