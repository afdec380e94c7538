// The reads of the system, one bit each; the read chain issues them in turn.
#pragma once

#include <cstdint>

namespace halvorin {

enum RequestKind : uint32_t {
    kReadConfiguration = 1,       // SES page 0x01
    kReadElementDescriptors = 2,  // SES page 0x07
    kReadEnclosureStatus = 4,     // SES page 0x02
    kReadAdditionalStatus = 8,    // SES page 0x0A
    kReadThresholds = 16,         // SES page 0x05
    kReadPorts = 32,              // vendor buffer offset 7
    kReadDiskIdentities = 64,     // vendor buffer offset 8
    kReadZones = 128,             // vendor buffer offset 6
    kReadExpanders = 256,         // vendor buffer offset 10
    kReadNominalVoltages = 512,   // vendor buffer offset 9
    kReadUidLed = 1024,           // vendor buffer offset 3
    kReadBuzzer = 2048,           // vendor buffer offset 2
    kReadSystemName = 4096,       // vendor buffer offset 4
};

}  // namespace halvorin
