#include "enclosure/model/ses_elem.h"

#include "enclosure/model/element_types.h"

namespace halvorin {

CSesElem::CSesElem(CSubEnc* owner, uint8_t tdi, uint8_t ei, uint8_t element_type)
    : subenc(owner), type_desc_index(tdi), element_index(ei), type(element_type) {}

size_t ReadHistory(const CSesElem& element, std::span<int16_t> out, int32_t* update_count) {
    if (update_count) *update_count = element.update_count;
    return element.history ? element.history->Read(out) : 0;
}

}  // namespace halvorin
