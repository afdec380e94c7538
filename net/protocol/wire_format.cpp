#include "net/protocol/wire_format.h"

#include <algorithm>

#include "base/byte_order.h"

namespace halvorin {

namespace {

constexpr size_t kNameOffset = 4;

}  // namespace

void EncodeHeader(const MSG_HDR& header, std::span<uint8_t, kHeaderSize> out) {
    std::fill(out.begin(), out.end(), 0);
    put_be32(&out[0], header.length);
    put_be32(&out[4], header.tag);
    put_be32(&out[8], header.magic);
    put_be32(&out[12], static_cast<uint32_t>(header.status));
    out[16] = header.type;
    out[17] = header.request;
}

MSG_HDR DecodeHeader(std::span<const uint8_t, kHeaderSize> in) {
    MSG_HDR header;
    header.length = be32(&in[0]);
    header.tag = be32(&in[4]);
    header.magic = be32(&in[8]);
    header.status = static_cast<int32_t>(be32(&in[12]));
    header.type = in[16];
    header.request = in[17];
    return header;
}

std::vector<uint8_t> BuildMessage(const MSG_HDR& header, std::span<const uint8_t> payload) {
    std::vector<uint8_t> message(kHeaderSize + payload.size());
    MSG_HDR framed = header;
    framed.length = static_cast<uint32_t>(payload.size());
    EncodeHeader(framed, std::span<uint8_t, kHeaderSize>(message.data(), kHeaderSize));
    std::copy(payload.begin(), payload.end(), message.begin() + kHeaderSize);
    return message;
}

std::array<uint8_t, kHelloInfoSize> EncodeHello(const HELLO_INFO& hello) {
    std::array<uint8_t, kHelloInfoSize> out{};
    out[0] = hello.host_kind;
    const size_t units = std::min(hello.computer_name.size(), kComputerNameUnits - 1);
    for (size_t i = 0; i < units; ++i)
        put_be16(&out[kNameOffset + i * 2], hello.computer_name[i]);
    return out;
}

std::optional<HELLO_INFO> DecodeHello(std::span<const uint8_t> payload) {
    if (payload.size() < kHelloInfoSize) return std::nullopt;
    HELLO_INFO hello;
    hello.host_kind = payload[0];
    for (size_t i = 0; i < kComputerNameUnits - 1; ++i) {
        char16_t unit = be16(&payload[kNameOffset + i * 2]);
        if (unit == 0) break;
        hello.computer_name += unit;
    }
    return hello;
}

std::array<uint8_t, kScsiReqSize> EncodeScsiReq(const SCSI_REQ& req) {
    std::array<uint8_t, kScsiReqSize> out{};
    std::copy(req.address.bytes.begin(), req.address.bytes.end(), out.begin());
    std::copy(req.cdb.begin(), req.cdb.end(), out.begin() + kSesAddrSize);
    put_be32(&out[92], req.transfer_length);
    put_be32(&out[96], req.timeout_s);
    return out;
}

std::optional<SCSI_REQ> DecodeScsiReq(std::span<const uint8_t> payload) {
    if (payload.size() < kScsiReqSize) return std::nullopt;
    SCSI_REQ req;
    req.address = SES_ADDR::FromBytes(payload.first<kSesAddrSize>());
    std::copy_n(payload.begin() + kSesAddrSize, kCdbSize, req.cdb.begin());
    req.transfer_length = be32(&payload[92]);
    req.timeout_s = be32(&payload[96]);
    return req;
}

std::vector<uint8_t> EncodeDeviceList(std::span<const SES_ADDR> devices) {
    std::vector<uint8_t> payload;
    payload.reserve(devices.size() * kSesAddrSize);
    for (const SES_ADDR& device : devices)
        payload.insert(payload.end(), device.bytes.begin(), device.bytes.end());
    return payload;
}

DeviceList DecodeDeviceList(std::span<const uint8_t> payload) {
    DeviceList list;
    list.whole = payload.size() % kSesAddrSize == 0;
    for (size_t at = 0; at + kSesAddrSize <= payload.size(); at += kSesAddrSize)
        list.devices.push_back(SES_ADDR::FromBytes(payload.subspan(at).first<kSesAddrSize>()));
    return list;
}

}  // namespace halvorin
