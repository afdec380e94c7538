// Whether a Halvorin agent already serves a TCP port of this host: a
// program that finds the port taken can tell a running halvorin-agentd
// (whose enclosures it may use) from another program.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace halvorin {

enum class AgentProbe {
    kAgent,    // answered a hello in the protocol (served, refused or busy)
    kOther,    // something listens, but does not speak the protocol
    kNothing,  // nothing accepted the connection
};

// Connects to 127.0.0.1:port, says hello as `computer_name` and waits at
// most `patience` for the answer's header.
AgentProbe ProbeLocalAgent(uint16_t port, const std::u16string& computer_name,
                           std::chrono::milliseconds patience);

}  // namespace halvorin
