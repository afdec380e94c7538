// The device list of a host: asked of its agent, and reconciled with the
// domain's devices when it arrives.
#pragma once

#include "net/protocol/wire_format.h"

namespace halvorin {

class CSesDomain;

// At most one outstanding per domain (-17); -15 while closing.
int RequestDeviceList(CSesDomain* domain);

// New devices are added and read; devices whose first read chain never
// finished start it again; devices the list no longer names are removed. A
// cut-short list removes nothing (its lost tail may have named the devices
// it does not show).
void ReconcileDevices(CSesDomain* domain, const DeviceList& list);

}  // namespace halvorin
