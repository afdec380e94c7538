// The agent's audit lines: which manager changed what on which enclosure,
// and with what result. Every control write is logged except the middle
// segments of a firmware download (its first segment, its activation and
// every failure are), so one download is a few lines, not hundreds.
#pragma once

#include <span>
#include <string>

#include "net/protocol/wire_format.h"

namespace halvorin {

// "5000a0b0c0d0e0f01 (scsi 0:0:1:0)".
std::string DeviceText(const SES_ADDR& address);

// "SEND DIAGNOSTIC page 0x02", "WRITE BUFFER mode 0x07 buffer 0x00 offset 0",
// "RECEIVE DIAGNOSTIC RESULTS page 0x02", or the opcode.
std::string CommandText(const SCSI_REQ& request, std::span<const uint8_t> data_out);

// A WRITE BUFFER that downloads or activates microcode.
bool IsFirmwareDownload(const SCSI_REQ& request);

// Whether a control write with this result belongs in the audit log.
bool AuditsWrite(const SCSI_REQ& request, int result);

}  // namespace halvorin
