#include "net/agent/command_audit.h"

#include <cstdio>

namespace halvorin {

namespace {

constexpr uint8_t kReceiveDiagnostic = 0x1C;
constexpr uint8_t kSendDiagnostic = 0x1D;
constexpr uint8_t kWriteBuffer = 0x3B;
constexpr uint8_t kReadBuffer = 0x3C;
constexpr uint8_t kInquiry = 0x12;

std::string Hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", value & 0xFFu);
    return text;
}

uint8_t WriteBufferMode(const SCSI_REQ& request) {
    return request.cdb[1] & 0x1F;
}

uint32_t WriteBufferOffset(const SCSI_REQ& request) {
    return (uint32_t{request.cdb[3]} << 16) | (uint32_t{request.cdb[4]} << 8) | request.cdb[5];
}

}  // namespace

std::string DeviceText(const SES_ADDR& address) {
    std::string text;
    char byte[4];
    for (uint8_t b : address.Identifier()) {
        std::snprintf(byte, sizeof byte, "%02x", b);
        text += byte;
    }
    const auto adapter = address.AdapterNumber();
    text += " (scsi " + (adapter ? std::to_string(*adapter) : std::string("?")) + ":" +
            std::to_string(address.PathId()) + ":" + std::to_string(address.TargetId()) + ":" +
            std::to_string(address.Lun()) + ")";
    return text;
}

std::string CommandText(const SCSI_REQ& request, std::span<const uint8_t> data_out) {
    const uint8_t opcode = request.cdb[0];
    switch (opcode) {
        case kSendDiagnostic:
            return "SEND DIAGNOSTIC page " +
                   (data_out.empty() ? std::string("(none)") : Hex(data_out[0]));
        case kReceiveDiagnostic:
            return "RECEIVE DIAGNOSTIC RESULTS page " + Hex(request.cdb[2]);
        case kWriteBuffer:
            return "WRITE BUFFER mode " + Hex(WriteBufferMode(request)) + " buffer " +
                   Hex(request.cdb[2]) + " offset " + std::to_string(WriteBufferOffset(request));
        case kReadBuffer:
            return "READ BUFFER buffer " + Hex(request.cdb[2]);
        case kInquiry:
            return "INQUIRY";
        default:
            return "opcode " + Hex(opcode);
    }
}

bool IsFirmwareDownload(const SCSI_REQ& request) {
    if (request.cdb[0] != kWriteBuffer) return false;
    const uint8_t mode = WriteBufferMode(request);
    return (mode >= 0x04 && mode <= 0x07) || (mode >= 0x0D && mode <= 0x0F);
}

bool AuditsWrite(const SCSI_REQ& request, int result) {
    if (!IsFirmwareDownload(request) || result < 0) return true;
    const bool activation = WriteBufferMode(request) == 0x0F;
    return activation || WriteBufferOffset(request) == 0;
}

}  // namespace halvorin
