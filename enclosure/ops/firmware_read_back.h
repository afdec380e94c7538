// After a firmware upgrade's activation, the only proof that the enclosure
// runs the new firmware is the revision it reports when read again. This
// follows the enclosure through the restart it may make (gone from its
// host's device list, then back) and through a reconnection to its agent,
// reads it again from the configuration on, and says whether the revision
// differs from the one before the upgrade.
//
// Poll thread only: Step reads the model and starts reads.
#pragma once

#include <cstdint>
#include <string>

#include "enclosure/model/model_ref.h"

namespace halvorin {

class FirmwareReadBack {
  public:
    enum class Outcome { kPending, kChanged, kUnchanged };

    FirmwareReadBack(CSesDomain* domain, const DeviceId& device, uint8_t subenc_id,
                     std::string revision_before);

    // One look; call it at every poll step until it is no longer pending.
    Outcome Step();
    // What the enclosure reported once it was read again.
    const std::string& revision() const { return revision_; }
    const std::string& revision_before() const { return revision_before_; }

  private:
    Ref<CSesDomain> domain_;
    DeviceId device_;
    uint8_t subenc_id_;
    std::string revision_before_;
    std::string revision_;
    bool reread_started_ = false;
};

}  // namespace halvorin
