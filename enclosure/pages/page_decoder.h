// Applies the reply of a read to the model, by request kind.
#pragma once

#include <cstdint>
#include <span>

namespace halvorin {

class CSesDev;

// The reply of one read: its result (byte count or negative code) and bytes.
// Kind 2 needs the configuration page (kind 1) that came before it, with its
// result. Returns 0 or a negative code; -9 for an unknown kind.
int DecodeReply(CSesDev* device, uint32_t kind, int result, std::span<const uint8_t> payload,
                int configuration_result, std::span<const uint8_t> configuration, int64_t now);

}  // namespace halvorin
