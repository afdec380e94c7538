// What an agent worker does with one authorised request: enumerate the
// enclosure services devices, or run one CDB on one of them. Every length from
// the wire is untrusted and checked here.
#pragma once

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
    int32_t result = 0;            // byte count, or a negative result code
    std::vector<uint8_t> payload;  // the data; with a negative result, a reason or nothing
};

class RequestExecutor {
  public:
    RequestExecutor(ScsiTransport& transport, DeviceCatalog& catalog);

    // The reply to send, or nothing when the request gets no reply (a SCSI
    // request shorter than its fixed part, an unknown type).
    std::optional<AgentReply> Execute(const WireMessage& request, std::stop_token stop);

  private:
    std::optional<AgentReply> EnumerateDevices(std::stop_token stop);
    std::optional<AgentReply> RunDataIn(const WireMessage& request, std::stop_token stop);
    std::optional<AgentReply> RunDataOut(const WireMessage& request, std::stop_token stop);

    ScsiTransport& transport_;
    DeviceCatalog& catalog_;
};

// Header and payload of the reply to a request: the tag and type copied, the
// request byte 0; status the result when negative. The payload goes with a
// positive result (its bytes) and with a negative one (a UTF-8 reason that
// managers may show; older ones skip it); a result of 0 sends none.
std::vector<uint8_t> BuildReply(const MSG_HDR& request, int32_t result,
                                std::span<const uint8_t> payload);

}  // namespace halvorin
