// The manager-agent messages: every message is a 32-byte MSG_HDR followed by
// `length` payload bytes. Header, HELLO_INFO and SCSI_REQ integers travel in
// network byte order; SES_ADDR records travel as stored. docs/PROTOCOL.md is
// the reference for writers of a peer.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "net/protocol/ses_addr.h"

namespace halvorin {

inline constexpr uint16_t kDefaultAgentPort = 6000;
inline constexpr uint32_t kMsgMagic = 0x19710222;
inline constexpr uint32_t kMaxPayload = 65536;
inline constexpr size_t kHeaderSize = 32;
inline constexpr size_t kHelloInfoSize = 516;
inline constexpr size_t kScsiReqSize = 100;
inline constexpr size_t kCdbSize = 16;
inline constexpr size_t kComputerNameUnits = 256;
using Cdb = std::array<uint8_t, kCdbSize>;

// Managers always ask for this much data-in; agents never allocate more.
inline constexpr uint32_t kMaxDataIn = 65535;

enum MessageType : uint8_t {
    MSG_HELLO = 1,
    MSG_ENUM_DEVICES = 3,
    MSG_SCSI_IN = 4,
    MSG_SCSI_OUT = 5,
};

// Header fields in host order.
struct MSG_HDR {
    uint32_t length = 0;  // payload bytes after the header
    uint32_t tag = 0;     // chosen by the manager, echoed by the agent
    uint32_t magic = kMsgMagic;
    int32_t status = 0;  // 0 or a negative result code (replies only)
    uint8_t type = 0;
    uint8_t request = 0;  // 1 manager to agent, 0 agent to manager
};

void EncodeHeader(const MSG_HDR& header, std::span<uint8_t, kHeaderSize> out);
MSG_HDR DecodeHeader(std::span<const uint8_t, kHeaderSize> in);
// A header whose length or magic is wrong leaves the stream unusable.
inline bool IsUsableHeader(const MSG_HDR& h) {
    return h.length <= kMaxPayload && h.magic == kMsgMagic;
}

// Header and payload in one block, ready to send.
std::vector<uint8_t> BuildMessage(const MSG_HDR& header, std::span<const uint8_t> payload);

struct HELLO_INFO {
    uint8_t host_kind = 1;         // 1 in every hello we send; 0x20 marks the alternative host icon
    std::u16string computer_name;  // at most 255 units travel
};

std::array<uint8_t, kHelloInfoSize> EncodeHello(const HELLO_INFO& hello);
// Reads up to the first zero unit or 256 units; a name without a terminator is
// cut to 255 units. Needs the full 516 bytes.
std::optional<HELLO_INFO> DecodeHello(std::span<const uint8_t> payload);

struct SCSI_REQ {
    SES_ADDR address;
    std::array<uint8_t, kCdbSize> cdb{};
    uint32_t transfer_length = 0;  // data-in: allocation length; data-out: bytes following
    uint32_t timeout_s = 0;
};

std::array<uint8_t, kScsiReqSize> EncodeScsiReq(const SCSI_REQ& req);
// Needs at least the 100-byte fixed part.
std::optional<SCSI_REQ> DecodeScsiReq(std::span<const uint8_t> payload);

// The reply to MSG_ENUM_DEVICES: one SES_ADDR record per device, nothing else.
struct DeviceList {
    std::vector<SES_ADDR> devices;
    // False when bytes were left after the last whole record: the list was
    // cut short and may not name every device there is.
    bool whole = true;
};

std::vector<uint8_t> EncodeDeviceList(std::span<const SES_ADDR> devices);
DeviceList DecodeDeviceList(std::span<const uint8_t> payload);

}  // namespace halvorin
