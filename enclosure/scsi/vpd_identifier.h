// The device identification VPD page (0x83) as discovery reads it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "net/protocol/ses_addr.h"

namespace halvorin {

// The first NAA designator of exactly 8 bytes. Nothing when the page is not
// an enclosure services device's or holds no such designator; the walk stops
// at the page length, at the bytes received, or at a descriptor that would run
// past either.
std::optional<DeviceId> FindNaaIdentifier(std::span<const uint8_t> page);

}  // namespace halvorin
