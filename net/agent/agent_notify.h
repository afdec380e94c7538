// What the agent tells its user interface about the connected manager.
#pragma once

#include <cstdint>

namespace halvorin {

enum AgentNotifyKind : uint32_t {
    kClientAuthorized = 0,  // a manager said hello with an authorised name
    kClientGone = 1,        // that manager disconnected or is no longer authorised
};

// 536 bytes; lives on the caller's stack, so a callback copies what it keeps.
struct AGENT_NOTIFY {
    uint32_t kind = 0;
    char16_t client_name[256] = {};  // zero-terminated
    uint8_t peer_address[16] = {};   // kind 0: the peer's IPv4 socket address
    uint32_t address_length = 0;     // kind 0: 16
};
static_assert(sizeof(AGENT_NOTIFY) == 536);

// Called with the authorisation lock held: copy the record, post it to the
// UI and return; never block and never call back into the server.
using ServerNotifyFn = void (*)(const AGENT_NOTIFY* notify, void* context);

}  // namespace halvorin
