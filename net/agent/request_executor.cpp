#include "net/agent/request_executor.h"

#include <algorithm>
#include <new>

#include "base/result_code.h"

namespace halvorin {

RequestExecutor::RequestExecutor(ScsiTransport& transport, DeviceCatalog& catalog)
    : transport_(transport), catalog_(catalog) {}

std::optional<AgentReply> RequestExecutor::Execute(const WireMessage& request,
                                                   std::stop_token stop) {
    switch (request.header.type) {
        case MSG_ENUM_DEVICES:
            return EnumerateDevices(stop);
        case MSG_SCSI_IN:
            return RunDataIn(request, stop);
        case MSG_SCSI_OUT:
            return RunDataOut(request, stop);
        default:
            return std::nullopt;
    }
}

std::optional<AgentReply> RequestExecutor::EnumerateDevices(std::stop_token stop) {
    std::vector<SES_ADDR> devices;
    try {
        devices = catalog_.Rescan(stop);
    } catch (const std::bad_alloc&) {
        return AgentReply{kOutOfMemory, {}};
    }
    AgentReply reply;
    try {
        reply.payload = EncodeDeviceList(devices);
    } catch (const std::bad_alloc&) {
        // An empty list would read as "every device removed"; say why instead.
        return AgentReply{kOutOfMemory, {}};
    }
    reply.result = static_cast<int32_t>(reply.payload.size());
    return reply;
}

std::optional<AgentReply> RequestExecutor::RunDataIn(const WireMessage& request,
                                                     std::stop_token stop) {
    auto scsi = DecodeScsiReq(request.payload);
    if (!scsi) return std::nullopt;
    if (!catalog_.Contains(scsi->address, stop)) return AgentReply{kAdapterOpenFailed, {}};
    const uint32_t allocation = std::min(scsi->transfer_length, kMaxDataIn);
    const uint32_t timeout = std::clamp(scsi->timeout_s, kMinCommandTimeout, kMaxCommandTimeout);
    AgentReply reply;
    reply.payload.resize(allocation);
    reply.result = transport_.PassThroughIn(scsi->address, scsi->cdb, reply.payload, timeout, stop);
    reply.payload.resize(reply.result > 0 ? static_cast<size_t>(reply.result) : 0);
    return reply;
}

std::optional<AgentReply> RequestExecutor::RunDataOut(const WireMessage& request,
                                                      std::stop_token stop) {
    auto scsi = DecodeScsiReq(request.payload);
    if (!scsi) return std::nullopt;
    const size_t data_available = request.payload.size() - kScsiReqSize;
    if (scsi->transfer_length > data_available) return AgentReply{kShortOrTooLarge, {}};
    if (!catalog_.Contains(scsi->address, stop)) return AgentReply{kAdapterOpenFailed, {}};
    const uint32_t timeout = std::clamp(scsi->timeout_s, kMinCommandTimeout, kMaxCommandTimeout);
    std::span<const uint8_t> data(request.payload.data() + kScsiReqSize, scsi->transfer_length);
    const int result = transport_.PassThroughOut(scsi->address, scsi->cdb, data, timeout, stop);
    return AgentReply{std::min(result, 0), {}};
}

std::vector<uint8_t> BuildReply(const MSG_HDR& request, int32_t result,
                                std::span<const uint8_t> payload) {
    MSG_HDR header;
    header.tag = request.tag;
    header.type = request.type;
    header.request = 0;
    header.status = result < 0 ? result : 0;
    return BuildMessage(header, result != 0 ? payload : std::span<const uint8_t>{});
}

}  // namespace halvorin
