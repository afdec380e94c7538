// The dashboard's rows: a head row with the columns' titles, then one row
// per enclosure with how many of its elements of each kind failed.
#include <QFontMetrics>
#include <QPainter>

#include "shell/theme/stale_text.h"
#include "views/elem_list_box.h"
#include "views/elem_list_look.h"
#include "views/overview_rows.h"
#include "views/rows/row_drawing.h"
#include "views/rows/row_kind.h"

namespace halvorin {

namespace {

constexpr int kInset = 6;

using rows::Q;

void PaintHeader(const RowPaint& paint) {
    QPainter& p = paint.p;
    const QRect& r = paint.r;
    const CElemListBox::Look& look = paint.list.RowLook();
    const OverviewLayout& layout = paint.list.Overview();
    p.fillRect(r, look.overview_header);
    p.setFont(look.overview_header_font);
    for (int column = 0; column < kOverviewColumnCount; ++column) {
        const int left = layout.Left(column);
        const int right = layout.Right(column);
        p.setPen(look.overview_line);
        p.drawLine(right - 1, 0, right - 1, r.height() - 1);
        int x = left + kInset;
        const int icon = OverviewColumns()[size_t(column)].icon;
        if (icon >= 0 && !look.group_icons_hot.empty()) {
            const int size = look.group_icons_hot.cell_height();
            look.group_icons_hot.Draw(p, icon, QPoint(x, (r.height() - size) / 2));
            x += look.group_icons_hot.cell_width() + kInset;
        }
        p.setPen(look.overview_header_text);
        const QRect text(x, 0, std::max(0, right - kInset - x), r.height());
        const QFontMetrics metrics(look.overview_header_font);
        const QString title = OverviewColumnTitle(column);
        // Whole words on as many lines as fit; a word too long is cut.
        QString fitted = title;
        if (metrics.boundingRect(text, Qt::TextWordWrap, title).height() > text.height())
            fitted = metrics.elidedText(title, Qt::ElideRight, text.width());
        p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, fitted);
    }
}

void PaintSubEnc(const RowPaint& paint) {
    QPainter& p = paint.p;
    const QRect& r = paint.r;
    CItemData& row = paint.row;
    const CElemListBox::Look& look = paint.list.RowLook();
    const OverviewLayout& layout = paint.list.Overview();
    if (paint.index % 2 == 1) p.fillRect(r, look.overview_stripe);
    const OverviewShown shown = OverviewShownOf(row.subenc.get());
    row.overview_shown = shown;

    const uint32_t hot_code = paint.list.HotCode();
    const bool hot = HitRow(hot_code) == paint.index && (hot_code & kClickable);
    const int name_right = layout.Right(kOverviewNameColumn);
    p.setFont(look.overview_name_font);
    p.setPen(hot ? QColor(0, 0, 0xc0) : look.name_text);
    const QRect name(kInset, 0, std::max(0, name_right - 2 * kInset), r.height());
    p.drawText(name, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
               QFontMetrics(look.overview_name_font)
                   .elidedText(Q(shown.name), Qt::ElideRight, name.width()));
    p.setPen(look.overview_line);
    p.drawLine(name_right - 1, 0, name_right - 1, r.height() - 1);

    p.setFont(look.overview_font);
    for (int column = 1; column < kOverviewColumnCount; ++column) {
        const int left = layout.Left(column);
        const QRect cell(left + kInset, 0, std::max(0, layout.widths[size_t(column)] - 2 * kInset),
                         r.height());
        p.setPen(look.overview_line);
        p.drawLine(left - 1, 0, left - 1, r.height() - 1);
        if (column == kOverviewStatusColumn) {
            if (!shown.current) {
                p.setPen(look.overview_fault);
                p.drawText(cell, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap,
                           StaleShortText(shown.last_read));
            } else if (shown.buzzer_sounding && !look.buzzer_icon.empty()) {
                const int size = look.buzzer_icon.cell_height();
                look.buzzer_icon.Draw(p, 0, QPoint(cell.left(), (r.height() - size) / 2));
            }
            continue;
        }
        const bool failed = shown.counts[size_t(column)].failed != 0;
        // Counts that are no longer current are not shown as health.
        p.setPen(!shown.current ? look.label_off : failed ? look.overview_fault : look.overview_ok);
        p.drawText(cell, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                   OverviewCellText(shown, column));
    }
    if (paint.index == paint.list.RowCount() - 1) {
        p.setPen(look.overview_line);
        p.drawLine(0, r.height() - 1, r.width() - 1, r.height() - 1);
    }
}

class OverviewRow final : public RowKind {
  public:
    void Paint(const RowPaint& paint) const override {
        if (paint.row.subenc)
            PaintSubEnc(paint);
        else
            PaintHeader(paint);
    }
};

}  // namespace

const RowKind& OverviewRowKind() {
    static const OverviewRow kind;
    return kind;
}

}  // namespace halvorin
