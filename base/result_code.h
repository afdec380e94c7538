// Result codes shared by every layer: operations return 0 or a positive count
// on success and one of these negative values on failure. The numbers travel
// on the wire in reply headers, so they never change.
#pragma once

#include <string_view>

namespace halvorin {

enum ResultCode : int {
    kOk = 0,
    kShortOrTooLarge = -1,    // page or buffer shorter than its headers say; message too large
    kGenerationChanged = -2,  // a page's generation code differs from the configuration's
    kOutOfMemory = -3,
    kAdapterOpenFailed = -4,  // the host adapter / device could not be opened
    kNotFound = -5,
    kNoResource = -6,  // socket, thread, mutex, file or free request slot unavailable
    kTimedOut = -7,
    kScsiFailed = -8,
    kGeneralFailure = -9,
    kConnectionLost = -10,    // connection lost while the request was outstanding
    kConnectionClosed = -11,  // connection closed or a send failed
    kConnectFailed = -12,     // TCP connect failed on every address
    kProtocolError = -14,     // bad length or magic in a received header
    kClosing = -15,           // the manager-side connection or domain is shutting down
    kPackageOpenFailed = -16,
    kBusy = -17,  // the same request is already outstanding
    kHelloRefused = -18,
    kInvalidFirmware = -19,
    kModelMismatch = -20,
    kUpgradeRunning = -21,
    kUpgradeCompleted = -22,
    kUnsupportedModel = -23,
    // The connection to the agent was lost while the enclosure activated new
    // firmware: which firmware it runs is unknown until it is read again.
    kActivationUnknown = -24,
    // The agent serves as many managers as it may; the reply to the hello
    // names them (UTF-8 text), and the manager tries again later.
    kAgentBusy = -25,
    // The manager's TLS connection to the agent failed: the agent's
    // certificate did not verify, or the agent refused the manager's. Never
    // sent on the wire.
    kTlsFailed = -26,
};

// Short English name of a result code for logs and command-line output.
std::string_view ResultCodeName(int code);

}  // namespace halvorin
