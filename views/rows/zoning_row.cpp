// SAS zoning rows: one cell per slot, in the port's zone or not as edited.
#include "views/elem_list_box.h"
#include "views/elem_list_look.h"
#include "views/rows/element_row_kind.h"
#include "views/zoning_layout.h"

namespace halvorin {

namespace {

class ZoningRow final : public ElementRowKind {
  public:
    void PaintDetails(const RowPaint& paint) const override {
        const CElemListBox::Look& look = paint.list.RowLook();
        const ZoningLayout& zoning = paint.list.Zoning();
        const auto& edit = paint.row.zone_edit;
        paint.p.setFont(look.axis_font);
        paint.p.setPen(Qt::white);
        for (int k = 0; k < zoning.slot_count; ++k) {
            const QRect cell = zoning.CellRect(k);
            const bool in_zone = size_t(k) < edit.size() && edit[size_t(k)];
            (in_zone ? look.zone_in : look.zone_out).Draw(paint.p, 0, QRectF(cell));
            paint.p.drawText(cell, Qt::AlignCenter | Qt::TextSingleLine, QString::number(k + 1));
        }
    }
};

}  // namespace

const ElementRowKind& ZoningRowKind() {
    static const ZoningRow kind;
    return kind;
}

}  // namespace halvorin
