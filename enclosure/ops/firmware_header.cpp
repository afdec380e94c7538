#include "enclosure/ops/firmware_header.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"

namespace halvorin {

namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}
constexpr auto kCrcTable = MakeCrcTable();

void PutImage(uint8_t* at, const FirmwareImage& image, size_t md5_at) {
    put_le32(at, image.offset);
    put_le32(at + 4, image.length);
    std::copy(image.md5.begin(), image.md5.end(), at + md5_at);
}

FirmwareImage GetImage(const uint8_t* at) {
    FirmwareImage image;
    image.offset = le32(at);
    image.length = le32(at + 4);
    std::copy_n(at + 8, 16, image.md5.begin());
    return image;
}

}  // namespace

std::string FirmwareHeader::ModelText() const {
    return std::string(model.data(), strnlen(model.data(), model.size()));
}

uint32_t FirmwareCrc(std::span<const uint8_t> bytes, uint32_t crc) {
    for (uint8_t b : bytes)
        crc = (crc >> 8) ^ kCrcTable[(crc ^ b) & 0xFF];
    return crc;
}

std::array<uint8_t, kFirmwareHeaderSize> EncodeFirmwareHeader(const FirmwareHeader& header) {
    std::array<uint8_t, kFirmwareHeaderSize> bytes{};
    put_le32(&bytes[0], header.magic);
    std::copy(header.model.begin(), header.model.end(), bytes.begin() + 4);
    PutImage(&bytes[24], header.a, 8);
    PutImage(&bytes[48], header.b, 8);
    put_le32(&bytes[72], header.check);
    return bytes;
}

FirmwareHeader DecodeFirmwareHeader(std::span<const uint8_t, kFirmwareHeaderSize> bytes) {
    FirmwareHeader header;
    header.magic = le32(&bytes[0]);
    std::copy_n(bytes.begin() + 4, kFirmwareModelSize, header.model.begin());
    header.a = GetImage(&bytes[24]);
    header.b = GetImage(&bytes[48]);
    header.check = le32(&bytes[72]);
    return header;
}

bool IsValidFirmwareHeader(std::span<const uint8_t, kFirmwareHeaderSize> bytes) {
    return le32(&bytes[0]) == kFirmwareMagic && le32(&bytes[72]) == FirmwareCrc(bytes.first(72));
}

Md5::Md5() : context_(EVP_MD_CTX_new()) {
    EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(context_), EVP_md5(), nullptr);
}

Md5::~Md5() {
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(context_));
}

void Md5::Update(std::span<const uint8_t> bytes) {
    EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(context_), bytes.data(), bytes.size());
}

Md5Digest Md5::Finish() {
    Md5Digest digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(context_), digest.data(), &length);
    return digest;
}

Md5Digest Md5Of(std::span<const uint8_t> bytes) {
    Md5 md5;
    md5.Update(bytes);
    return md5.Finish();
}

}  // namespace halvorin
