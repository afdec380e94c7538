#include "enclosure/model/reachability.h"

#include "enclosure/model/ses_dev.h"
#include "enclosure/model/ses_domain.h"
#include "enclosure/model/sub_enc.h"

namespace halvorin {

bool IsCurrent(const CSubEnc& subenc) {
    const CSesDev& device = *subenc.dev;
    return device.domain->client.state() == kStateReady && !device.IsRemoved();
}

int64_t LastReadTime(const CSubEnc& subenc) {
    return subenc.dev->last_read_time;
}

}  // namespace halvorin
