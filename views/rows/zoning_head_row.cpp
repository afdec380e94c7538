// The zoning group's head rows, above and below the ports: the instructions
// and the Apply and Undo buttons, washed out while there is nothing to apply.
#include <QPainter>
#include <tuple>

#include "shell/theme/string_resources.h"
#include "views/elem_list_box.h"
#include "views/elem_list_look.h"
#include "views/rows/row_kind.h"
#include "views/zoning_layout.h"

namespace halvorin {

namespace {

void PaintHead(const RowPaint& paint) {
    QPainter& p = paint.p;
    const QRect& r = paint.r;
    const CItemData& row = paint.row;
    const CElemListBox::Look& look = paint.list.RowLook();
    const ZoningLayout& zoning = paint.list.Zoning();
    const bool last_of_list = paint.index == paint.list.RowCount() - 1;
    if (!(row.flags & ROW_NO_BOTTOM_LINE) || last_of_list) {
        p.setPen(look.separator);
        p.drawLine(kZoningHeadTextLeft, r.height() - 1, r.width() - 1, r.height() - 1);
    }
    p.setFont(look.element_font);
    p.setPen(look.name_text);
    const int text_right = zoning.undo.left() - 18;
    if (text_right > kZoningHeadTextLeft) {
        p.drawText(QRect(kZoningHeadTextLeft, 8, text_right - kZoningHeadTextLeft, r.height() - 16),
                   Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap,
                   LoadQString(kZoningInstructionsText));
    }
    const uint32_t hot = paint.list.HotSpotIn(row);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(look.zoning_button_outline);
    for (auto [rect, text, fill] :
         {std::tuple(zoning.apply, 84, hot == HS_ZONING_APPLY ? look.button_hot : look.button_fill),
          std::tuple(zoning.undo, 85, hot == HS_ZONING_UNDO ? look.undo_hot : look.undo_fill)}) {
        p.setBrush(fill);
        p.drawRoundedRect(QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5), 3.5, 3.5);
        p.setPen(Qt::white);
        p.drawText(rect, Qt::AlignCenter | Qt::TextSingleLine, LoadQString(text));
        p.setPen(look.zoning_button_outline);
        if (!(paint.list.PendingChanges() & CElemListBox::kZoningEdited)) {
            // Nothing to apply or undo: washed out, as the list is when its
            // values are old.
            QColor wash = look.row_background;
            wash.setAlpha(150);
            p.fillRect(rect, wash);
        }
    }
    p.restore();
}

class ZoningHeadRow final : public RowKind {
  public:
    void Paint(const RowPaint& paint) const override { PaintHead(paint); }
};

}  // namespace

const RowKind& ZoningHeadRowKind() {
    static const ZoningHeadRow kind;
    return kind;
}

}  // namespace halvorin
