// Reads of a device's pages and vendor regions, and the chain that reads them
// all in turn: configuration, element descriptors, system name, ports, disk
// identities, zones, expanders, nominal voltages, UID LED, buzzer, status,
// additional status, thresholds. The last link marks the device ready.
//
// Everything here runs on the poll thread: requests are sent from it and
// their handlers run in the poll step's DeliverCompleted.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace halvorin {

class CSesDev;

// Non-zero flags make a read a link of a chain: its handler issues the next kind.
struct ChainFlags {
    uint8_t a = 0;
    uint8_t b = 0;
    bool chained() const { return a != 0 || b != 0; }
};
inline constexpr ChainFlags kFirstChain{1, 0};

// Sends the read of a kind with a handler that decodes the reply and, when
// chained, issues the next link. The request holds a reference on the device
// until its handler has run. 0, -9 for an unknown kind, or the connection's
// refusal (-1, -6, -15). A timeout of 0 means the domain's.
int IssueRead(CSesDev* device, uint32_t kind, ChainFlags chain, int timeout_s = 0);

// Starts (or restarts) the first chain of a device from its configuration.
int StartReadChain(CSesDev* device);

// The kind that follows a completed kind in the chain; 0 when the chain ends.
uint32_t NextChainKind(const CSesDev* device, uint32_t kind, int decoded);

// The unchained reads of the one-minute refresh, in order.
std::span<const uint32_t> RefreshKinds();
inline constexpr int kRefreshStatusTimeout = 57;

}  // namespace halvorin
