// Every CDB the manager builds. Fields not named are zero; lengths are
// big-endian.
#pragma once

#include <cstdint>
#include <optional>

#include "enclosure/pages/request_kind.h"
#include "net/protocol/wire_format.h"

namespace halvorin {

inline constexpr uint8_t kVendorBufferId = 0xE9;

enum VendorBufferOffset : uint8_t {
    kVendorCommand = 0,
    kVendorBuzzer = 2,
    kVendorUidLed = 3,
    kVendorSystemName = 4,
    kVendorZones = 6,
    kVendorPorts = 7,
    kVendorDiskIdentities = 8,
    kVendorNominalVoltages = 9,
    kVendorExpanders = 10,
};

// RECEIVE DIAGNOSTIC RESULTS with PCV, allocation length 65535.
Cdb ReadSesPageCdb(uint8_t page);
// SEND DIAGNOSTIC with PF; the page code travels in byte 2 as well.
Cdb WriteSesPageCdb(uint8_t page, uint16_t parameter_length);
// READ BUFFER, vendor-specific mode, buffer 0xE9.
Cdb ReadVendorBufferCdb(uint8_t offset, uint32_t allocation_length);
// WRITE BUFFER, vendor-specific mode, buffer 0xE9.
Cdb WriteVendorBufferCdb(uint8_t offset, uint32_t parameter_length);

// Where each read of the read chain takes its bytes from, in chain order.
struct ReadSource {
    uint32_t kind;
    bool ses_page;      // an SES diagnostic page, else a vendor buffer region
    uint8_t code;       // the page code or the buffer offset
    uint32_t capacity;  // the allocation length of a vendor buffer read
};
inline constexpr ReadSource kReadSources[] = {
    {kReadConfiguration, true, 0x01, 0},
    {kReadElementDescriptors, true, 0x07, 0},
    {kReadEnclosureStatus, true, 0x02, 0},
    {kReadAdditionalStatus, true, 0x0A, 0},
    {kReadThresholds, true, 0x05, 0},
    {kReadPorts, false, kVendorPorts, 2048},
    {kReadDiskIdentities, false, kVendorDiskIdentities, 4096},
    {kReadZones, false, kVendorZones, 2048},
    {kReadExpanders, false, kVendorExpanders, 2048},
    {kReadNominalVoltages, false, kVendorNominalVoltages, 2048},
    {kReadUidLed, false, kVendorUidLed, 512},
    {kReadBuzzer, false, kVendorBuzzer, 512},
    {kReadSystemName, false, kVendorSystemName, 512},
};

// The read command of a request kind; nothing for an unknown kind.
std::optional<Cdb> CdbForKind(uint32_t kind);

}  // namespace halvorin
