// The device list of a host: asked of its agent, and reconciled with the
// domain's devices when it arrives.
#pragma once

#include <cstdint>
#include <span>

namespace halvorin {

class CSesDomain;

// At most one outstanding per domain (-17); -15 while closing.
int RequestDeviceList(CSesDomain* domain);

// New devices are added and read; devices whose first read chain never
// finished start it again; devices the list no longer names are removed. A
// trailing partial record is ignored, and such a cut-short list removes
// nothing (its lost tail may have named the devices it does not show).
void ReconcileDevices(CSesDomain* domain, std::span<const uint8_t> records);

}  // namespace halvorin
