// The 76-byte header at the start of "jbod_fw.bin" (little-endian): magic,
// model text, the offset, length and MD5 of two images, and a check value.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace halvorin {

inline constexpr uint32_t kFirmwareMagic = 0x13578642;
inline constexpr size_t kFirmwareHeaderSize = 76;
inline constexpr size_t kFirmwareModelSize = 20;

using Md5Digest = std::array<uint8_t, 16>;

struct FirmwareImage {
    uint32_t offset = 0;
    uint32_t length = 0;
    Md5Digest md5{};
};

struct FirmwareHeader {
    uint32_t magic = kFirmwareMagic;
    std::array<char, kFirmwareModelSize> model{};  // zero-padded text
    FirmwareImage a;                               // downloaded first, to buffer 2
    FirmwareImage b;                               // then to buffer 1
    uint32_t check = 0;

    std::string ModelText() const;
};

// The header's check value: CRC-32 with the reflected IEEE 802.3 table, an
// initial value of 0 and no final inversion ("abc" gives 0xCA6598D0).
uint32_t FirmwareCrc(std::span<const uint8_t> bytes, uint32_t crc = 0);

std::array<uint8_t, kFirmwareHeaderSize> EncodeFirmwareHeader(const FirmwareHeader& header);
FirmwareHeader DecodeFirmwareHeader(std::span<const uint8_t, kFirmwareHeaderSize> bytes);
// Magic and check value both right.
bool IsValidFirmwareHeader(std::span<const uint8_t, kFirmwareHeaderSize> bytes);

// RFC 1321, through OpenSSL.
class Md5 {
  public:
    Md5();
    ~Md5();
    Md5(const Md5&) = delete;
    Md5& operator=(const Md5&) = delete;
    void Update(std::span<const uint8_t> bytes);
    Md5Digest Finish();

  private:
    void* context_;
};
Md5Digest Md5Of(std::span<const uint8_t> bytes);

}  // namespace halvorin
