#include "enclosure/pages/control_pages.h"

#include <algorithm>

#include "base/byte_order.h"
#include "base/result_code.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/model_ref.h"

namespace halvorin {

namespace {

constexpr uint8_t kEnclosureControlPage = 0x02;
constexpr uint8_t kDownloadMicrocodePage = 0x0E;
constexpr uint8_t kSelect = 0x80;
constexpr uint8_t kRequestIdent = 0x02;
constexpr size_t kDownloadHeader = 24;
constexpr size_t kDownloadDescriptor = 16;

}  // namespace

size_t EnclosureControlPageLength(const CSesDev* device) {
    size_t length = 8;
    const size_t types = std::min<size_t>(device->type_desc_count, device->type_descs.size());
    for (size_t tdi = 0; tdi < types; ++tdi)
        length += (device->type_descs[tdi].possible_elements + 1) * 4;
    return length;
}

std::vector<uint8_t> BuildEnclosureControlPage(CSesDev* device) {
    std::vector<uint8_t> page(EnclosureControlPageLength(device), 0);
    page[0] = kEnclosureControlPage;
    put_be16(&page[2], static_cast<uint32_t>(page.size() - 4));
    std::copy(device->generation.begin(), device->generation.end(), page.begin() + 4);
    size_t at = 8;
    const size_t types = std::min<size_t>(device->type_desc_count, device->type_descs.size());
    for (size_t tdi = 0; tdi < types; ++tdi) {
        const ELEM_TYPE_DESC& d = device->type_descs[tdi];
        at += 4;  // the overall control element stays zero
        for (size_t ei = 0; ei < d.possible_elements; ++ei, at += 4) {
            if (!IsSlotType(d.type) || d.subenc == nullptr) continue;
            Ref<CSesElem> slot = Ref<CSesElem>::Adopt(
                AcquireElem(d.subenc, static_cast<uint8_t>(tdi), static_cast<uint8_t>(ei)));
            if (!slot || slot->pending_request == 0) continue;
            page[at] = kSelect;
            if (slot->pending_request & kRequestIdentifyOn) page[at + 2] = kRequestIdent;
            slot->pending_request = 0;
        }
    }
    return page;
}

std::vector<uint8_t> BuildDownloadControlPage(const CSesDev* device, const DownloadPiece& piece) {
    std::vector<uint8_t> page((piece.data.size() + 27) & ~size_t{3}, 0);
    page[0] = kDownloadMicrocodePage;
    page[1] = piece.subenclosure;
    put_be16(&page[2], static_cast<uint32_t>(page.size() - 4));
    const auto generation = device->Generation();  // built on the upgrade thread
    std::copy(generation.begin(), generation.end(), page.begin() + 4);
    page[8] = piece.mode;
    page[11] = piece.buffer_id;
    put_be32(&page[12], piece.buffer_offset);
    put_be32(&page[16], piece.image_length);
    put_be32(&page[20], static_cast<uint32_t>(piece.data.size()));
    std::copy(piece.data.begin(), piece.data.end(), page.begin() + kDownloadHeader);
    return page;
}

int DecodeDownloadStatus(std::span<const uint8_t> page, uint8_t subenclosure, DownloadStatus& out) {
    if (page.size() < 8) return kShortOrTooLarge;
    const size_t descriptors = size_t{page[1]} + 1;
    for (size_t i = 0; i < descriptors; ++i) {
        const size_t at = 8 + i * kDownloadDescriptor;
        if (page.size() < at + kDownloadDescriptor) break;
        const uint8_t* d = &page[at];
        if (d[1] != subenclosure) continue;
        out = {d[2], d[3], be32(&d[4]), d[11], be32(&d[12])};
        return kOk;
    }
    return kGeneralFailure;
}

}  // namespace halvorin
