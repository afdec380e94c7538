#include "base/result_code.h"

namespace halvorin {

std::string_view ResultCodeName(int code) {
    if (code >= 0) return "ok";
    switch (code) {
        case kShortOrTooLarge:
            return "short or too large";
        case kGenerationChanged:
            return "generation code changed";
        case kOutOfMemory:
            return "out of memory";
        case kAdapterOpenFailed:
            return "device could not be opened";
        case kNotFound:
            return "not found";
        case kNoResource:
            return "no resource";
        case kTimedOut:
            return "timed out";
        case kScsiFailed:
            return "SCSI command failed";
        case kGeneralFailure:
            return "general failure";
        case kConnectionLost:
            return "connection lost";
        case kConnectionClosed:
            return "connection closed";
        case kConnectFailed:
            return "connect failed";
        case kProtocolError:
            return "protocol error";
        case kClosing:
            return "closing";
        case kPackageOpenFailed:
            return "package could not be opened";
        case kBusy:
            return "busy";
        case kHelloRefused:
            return "hello refused";
        case kInvalidFirmware:
            return "invalid firmware";
        case kModelMismatch:
            return "model mismatch";
        case kUpgradeRunning:
            return "upgrade already running";
        case kUpgradeCompleted:
            return "upgrade completed";
        case kUnsupportedModel:
            return "unsupported model";
        case kActivationUnknown:
            return "connection lost during activation";
        case kAgentBusy:
            return "agent busy";
        case kTlsFailed:
            return "TLS failed";
        default:
            return "unknown error";
    }
}

}  // namespace halvorin
