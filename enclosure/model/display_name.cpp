#include "enclosure/model/display_name.h"

#include "base/string_table.h"
#include "base/text_format.h"
#include "enclosure/model/element_naming.h"

namespace halvorin {

std::u16string EnclosureDisplayName(const SubEncSummary& info) {
    if (!info.system_name.empty()) return TextFromDevice(info.system_name);
    const auto& id = info.logical_id;
    return FormatString(LoadString(151), {TextFromDevice(info.product), id[0], id[1], id[2], id[3],
                                          id[4], id[5], id[6], id[7]});
}

std::u16string EnclosureDisplayName(const CSubEnc* subenc) {
    return EnclosureDisplayName(SubEncInfo(subenc));
}

}  // namespace halvorin
