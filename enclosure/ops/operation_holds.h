// The counted references an operation holds while it runs, so that the
// domain, device and sub-enclosure it acts on outlive it even when the poll
// step drops them from the model meanwhile.
#pragma once

#include "enclosure/model/model_ref.h"
#include "enclosure/model/ses_dev.h"

namespace halvorin {

struct OperationHolds {
    Ref<CSesDomain> domain;
    Ref<CSesDev> device;
    Ref<CSubEnc> subenc;  // none for a device-wide operation
};

inline OperationHolds HoldFor(CSesDev* device, CSubEnc* subenc) {
    return {Ref<CSesDomain>::Share(device->domain), Ref<CSesDev>::Share(device),
            Ref<CSubEnc>::Share(subenc)};
}

}  // namespace halvorin
