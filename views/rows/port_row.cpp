// SAS port rows: the link rate and the SAS address at the other end.
#include <QFontMetrics>

#include "enclosure/model/ses_elem.h"
#include "views/elem_list_box.h"
#include "views/elem_list_look.h"
#include "views/rows/element_row_kind.h"
#include "views/rows/row_drawing.h"

namespace halvorin {

namespace {

using namespace rows;

class PortRow final : public ElementRowKind {
  public:
    void PaintDetails(const RowPaint& paint) const override {
        const CElemListBox::Look& look = paint.list.RowLook();
        const CSesElem& element = *paint.row.element;
        if ((element.raw_status[0] & 0x0F) == 5 || !(element.data_valid & kDataValid) ||
            element.type_data[1] == 0) {
            return;
        }
        const QRect& r = paint.r;
        QPainter& p = paint.p;
        p.setFont(look.second_font);
        p.setPen(look.detail_text);
        const QFontMetrics metrics(look.second_font);
        const QString link = Format(75, {int64_t(element.type_data[0])});
        const QString from =
            Format(173, {SasAddress(element.type_data.data() + 2).toStdU16String()});
        const int link_width = metrics.horizontalAdvance(link);
        p.drawText(QRect(kDetailLeft, 0, link_width + 1, r.height()),
                   Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, link);
        const int x = kDetailLeft + link_width + 20;
        p.drawText(QRect(x, 0, std::max(0, r.width() - x), r.height()),
                   Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                   metrics.elidedText(from, Qt::ElideRight, std::max(0, r.width() - x)));
    }
};

}  // namespace

const ElementRowKind& PortRowKind() {
    static const PortRow kind;
    return kind;
}

}  // namespace halvorin
