// SES_ADDR: where one enclosure services device sits on an agent's host.
// 76 bytes stored and sent exactly as they are (little-endian UTF-16 path),
// so the record is kept as bytes and read through accessors.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace halvorin {

inline constexpr size_t kSesAddrSize = 76;
inline constexpr size_t kDeviceIdSize = 8;
using DeviceId = std::array<uint8_t, kDeviceIdSize>;

struct SES_ADDR {
    // offset 0: adapter path, 32 UTF-16LE units, zero-terminated
    // offset 64: 8-byte device identifier (NAA designator)
    // offset 72: path id, 73: target id, 74: logical unit, 75: zero
    std::array<uint8_t, kSesAddrSize> bytes{};

    static SES_ADDR Make(uint32_t adapter_number, const DeviceId& id, uint8_t path_id,
                         uint8_t target_id, uint8_t lun);
    static SES_ADDR FromBytes(std::span<const uint8_t, kSesAddrSize> raw);

    std::u16string AdapterPath() const;
    // The number in "\\.\Scsi%d:", or nothing when the path has another form.
    std::optional<uint32_t> AdapterNumber() const;
    DeviceId Identifier() const;
    uint8_t PathId() const { return bytes[72]; }
    uint8_t TargetId() const { return bytes[73]; }
    uint8_t Lun() const { return bytes[74]; }

    bool operator==(const SES_ADDR&) const = default;
};
static_assert(sizeof(SES_ADDR) == kSesAddrSize);

// "\\.\Scsi%d:" for an adapter number.
std::u16string AdapterPathFor(uint32_t adapter_number);

}  // namespace halvorin
