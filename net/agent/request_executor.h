// What an agent worker does with one authorised request: enumerate the
// enclosure services devices, or run one CDB on one of them. Every length from
// the wire is untrusted and checked here.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <vector>

#include "net/agent/device_catalog.h"
#include "net/protocol/frame_assembler.h"

namespace halvorin {

inline constexpr uint32_t kMinCommandTimeout = 1;
inline constexpr uint32_t kMaxCommandTimeout = 3600;

struct AgentReply {
    int32_t result = 0;  // byte count, or a negative result code
    std::vector<uint8_t> payload;
};

class RequestExecutor {
  public:
    RequestExecutor(ScsiTransport& transport, DeviceCatalog& catalog);

    // The reply to send, or nothing when the request gets no reply (an
    // enumeration already running, a SCSI request shorter than its fixed part).
    std::optional<AgentReply> Execute(const WireMessage& request, std::stop_token stop);

  private:
    std::optional<AgentReply> EnumerateDevices(std::stop_token stop);
    std::optional<AgentReply> RunDataIn(const WireMessage& request, std::stop_token stop);
    std::optional<AgentReply> RunDataOut(const WireMessage& request, std::stop_token stop);

    ScsiTransport& transport_;
    DeviceCatalog& catalog_;
    std::atomic<bool> enumeration_busy_{false};
};

// Header and payload of the reply to a request: the tag and type copied, the
// request byte 0; length = the result when not negative, status otherwise.
std::vector<uint8_t> BuildReply(const MSG_HDR& request, int32_t result,
                                std::span<const uint8_t> payload);

}  // namespace halvorin
