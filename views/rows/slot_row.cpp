// Slot rows: the identify LED's switch and, for a disk that reports them,
// its vendor, product and serial number and the slot number the enclosure
// gives it.
#include <QFontMetrics>

#include "enclosure/model/element_types.h"
#include "enclosure/model/ses_elem.h"
#include "shell/theme/shared_look.h"
#include "shell/theme/string_resources.h"
#include "views/elem_list_box.h"
#include "views/elem_list_look.h"
#include "views/rows/element_row_kind.h"
#include "views/rows/row_drawing.h"

namespace halvorin {

namespace {

using namespace rows;

class SlotRow final : public ElementRowKind {
  public:
    void PaintDetails(const RowPaint& paint) const override {
        const CElemListBox& list = paint.list;
        if (!list.ShowsSlotDetails(paint.row)) return;
        const CElemListBox::Look& look = list.RowLook();
        const CSesElem& element = *paint.row.element;
        const QRect& r = paint.r;
        QPainter& p = paint.p;
        p.setFont(look.second_font);
        p.setPen(look.detail_text);
        p.drawText(QRect(kDetailLeft, 0, look.id_led_label_width + 1, r.height()),
                   Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, LoadQString(105));
        const QRect switch_rect = list.SlotSwitchRect(r);
        DrawSwitch(p, switch_rect.topLeft(), (element.state & kStateIdentifyOn) != 0);
        if (!(element.data_valid & kDataValid)) return;
        const QString texts[] = {DeviceText(element, kDiskVendor, 9),
                                 DeviceText(element, kDiskProduct, 17),
                                 DeviceText(element, kDiskSerial, 21)};
        p.setFont(look.element_font);
        const QFontMetrics metrics(look.element_font);
        int x = switch_rect.right() + 1 + 28;
        for (int i = 0; i < 3; ++i) {
            const int width = look.disk_columns[i];
            p.drawText(QRect(x, 0, width, r.height()),
                       Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                       metrics.elidedText(texts[i], Qt::ElideRight, width));
            x += width + 20;
        }
        p.setFont(look.second_font);
        p.setPen(look.detail_text);
        p.drawText(QRect(x, 0, std::max(0, r.width() - x), r.height()),
                   Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                   list.SesSlotText(element));
    }
};

}  // namespace

const ElementRowKind& SlotRowKind() {
    static const SlotRow kind;
    return kind;
}

}  // namespace halvorin
