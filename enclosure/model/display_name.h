// The name an enclosure goes by in the tree, the views and the event list.
#pragma once

#include <string>

#include "enclosure/model/sub_enc.h"

namespace halvorin {

// The system name, or when it is empty string 151 ("%s-%02X...") of the
// product identification and the eight bytes of the logical identifier.
std::u16string EnclosureDisplayName(const SubEncSummary& info);
std::u16string EnclosureDisplayName(const CSubEnc* subenc);

}  // namespace halvorin
