// SAS expander rows: the expander's SAS address.
#include "enclosure/model/ses_elem.h"
#include "views/elem_list_box.h"
#include "views/elem_list_look.h"
#include "views/rows/element_row_kind.h"
#include "views/rows/row_drawing.h"

namespace halvorin {

namespace {

using namespace rows;

class ExpanderRow final : public ElementRowKind {
  public:
    void PaintDetails(const RowPaint& paint) const override {
        const CElemListBox::Look& look = paint.list.RowLook();
        const CSesElem& element = *paint.row.element;
        if (NotPresent(element.raw_status[0] & 0x0F) || !(element.data_valid & kDataValid)) return;
        paint.p.setFont(look.element_font);
        paint.p.setPen(look.detail_text);
        const auto& d = element.type_data;
        const QString text =
            Format(108, {int64_t(d[1]), int64_t(d[2]), int64_t(d[3]), int64_t(d[4]), int64_t(d[5]),
                         int64_t(d[6]), int64_t(d[7]), int64_t(d[8])});
        paint.p.drawText(QRect(178, 0, paint.r.width() - 178, paint.r.height()),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    }
};

}  // namespace

const ElementRowKind& ExpanderRowKind() {
    static const ExpanderRow kind;
    return kind;
}

}  // namespace halvorin
