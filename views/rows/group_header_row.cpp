// Group headers: the group's icon, the badge counting its failed elements,
// its title and the marker that opens or closes it. The System Information
// header is the same on the row's own background, without the marker (it
// never collapses).
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>

#include "views/elem_list_box.h"
#include "views/elem_list_look.h"
#include "views/rows/row_kind.h"

namespace halvorin {

namespace {

class GroupHeaderRow final : public RowKind {
  public:
    void Paint(const RowPaint& paint) const override {
        const CElemListBox::Look& look = paint.list.RowLook();
        const CItemData& row = paint.row;
        const QRect& r = paint.r;
        QPainter& p = paint.p;
        const bool panel = row.flags & ROW_PANEL;
        const bool hot = HitRow(paint.list.HotCode()) == paint.index && !panel;
        const int marker = look.markers.cell_width();
        if (panel) {
            p.fillRect(r, look.row_background);
        } else {
            QLinearGradient gradient(0, 0, 0, r.height());
            gradient.setColorAt(0, hot ? look.header_hot_top : look.header_top);
            gradient.setColorAt(1, hot ? look.header_hot_bottom : look.header_bottom);
            p.fillRect(r, gradient);
            p.setPen(look.header_line);
            p.drawLine(0, r.height() - 1, r.width() - 1, r.height() - 1);
            look.markers.Draw(
                p, (row.flags & ROW_EXPANDED) ? 0 : 1,
                QPoint(r.width() - marker - 12, (r.height() - look.markers.cell_height()) / 2));
        }
        const ElementGroup* group = GroupAt(row.group_row);
        const int icon_width = look.group_icons.cell_width();
        if (group && group->icon >= 0) {
            look.group_icons.Draw(p, group->icon,
                                  QPoint(15, (r.height() - look.group_icons.cell_height()) / 2));
        }
        int x = 15 + icon_width + 15;
        if (row.group_count > 0) {
            const int badge = look.badges.cell_width();
            const QPoint at(x, (r.height() - look.badges.cell_height()) / 2);
            look.badges.Draw(p, 0, at);
            p.setFont(look.axis_font);
            p.setPen(Qt::white);
            p.drawText(QRect(at, QSize(badge, look.badges.cell_height())), Qt::AlignCenter,
                       row.group_count >= 100 ? "..." : QString::number(row.group_count));
            x += badge;
        }
        p.setFont(look.header_font);
        p.setPen(look.header_text);
        const QRect title(x + 8, 4, r.width() - marker - 8 - (x + 8), r.height() - 8);
        p.drawText(title, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                   QFontMetrics(look.header_font)
                       .elidedText(paint.list.GroupTitle(row), Qt::ElideRight, title.width()));
    }
};

}  // namespace

const RowKind& GroupHeaderRowKind() {
    static const GroupHeaderRow kind;
    return kind;
}

}  // namespace halvorin
