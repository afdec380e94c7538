// The enclosure tree's rows as it paints them: hosts with their state,
// sub-enclosures with their selection.
#include "shell/tree/enc_tree.h"

#include "shell/tree/enc_tree_nodes.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <algorithm>
#include <unordered_set>

#include "enclosure/model/display_name.h"
#include "enclosure/model/domain_registry.h"
#include "enclosure/model/reachability.h"
#include "enclosure/model/ses_domain.h"
#include "enclosure/model/sub_enc.h"
#include "shell/theme/shared_look.h"
#include "shell/theme/stale_text.h"
#include "shell/theme/string_resources.h"
#include "shell/tree/enc_tree_look.h"
#include "shell/tree/right_pane_link.h"
#include "shell/widgets/tree_ctrl_scroll_bar.h"

namespace halvorin {

using namespace enc_tree;

namespace {

void DrawCentredIn(QPainter& p, const CImageList& list, int index, const QRect& square) {
    list.Draw(p, index,
              {square.left() + (square.width() - list.cell_width()) / 2,
               square.top() + (square.height() - list.cell_height()) / 2});
}

}  // namespace

// ---- drawing -------------------------------------------------------------------------------

void CEncTree::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                       const QModelIndex& index) const {
    const QRect r(0, option.rect.top(), viewport()->width(), option.rect.height());
    const auto node = index.data(kNodeRole).value<quintptr>();
    if (!index.parent().isValid()) {
        PaintHostRow(*painter, r, *reinterpret_cast<const HostNode*>(node), isExpanded(index));
    } else {
        const bool selected = selectionModel()->isSelected(index);
        PaintSubEncRow(*painter, r, *reinterpret_cast<const SubEncNode*>(node), selected);
    }
    if (hasFocus() && index == currentIndex()) {
        painter->save();
        painter->setPen(QPen(look_->focus, 1, Qt::DotLine));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(r.adjusted(1, 1, -2, -2));
        painter->restore();
    }
}

QString CEncTree::HostName(const HostNode& host) const {
    return QString::fromStdU16String(host.domain->host_name);
}

void CEncTree::PaintHostRow(QPainter& p, const QRect& r, const HostNode& host,
                            bool expanded) const {
    const EncTreeLook& look = *look_;
    const CImageList& icons = SharedImageList(1);
    const CImageList& glyphs = SharedImageList(2);
    CSesDomain* domain = host.domain.get();
    p.fillRect(r, expanded ? look.host_expanded : look.host_collapsed);

    int left = r.left();
    int right = r.right() + 1;
    if (editing_ && domain == armed_) {
        const QRect zone = DeleteZone(r);
        const bool hot = hot_host_ == domain && hot_zone_ == kDeleteZone;
        p.fillRect(zone, hot ? look.delete_zone_hot : look.delete_zone);
        DrawCentredIn(p, icons, hot ? kDeleteIconHot : kDeleteIcon, zone);
        right = zone.left();
    } else if (editing_) {
        const bool hot = hot_host_ == domain && hot_zone_ == kArmZone;
        DrawCentredIn(p, icons, hot ? kArmIconHot : kArmIcon, ArmZone(r));
    }
    // In editing mode the arm zone takes the row-height square on the left.
    if (editing_) left += r.height() - EncTreeLook::kIconLeft;

    const int icon =
        domain->client.host_kind() == kHostKindWithOwnIcon ? kHostKind32Icon : kHostIcon;
    const QRect icon_square(left + EncTreeLook::kIconLeft, r.top(), icons.cell_width(), r.height());
    DrawCentredIn(p, icons, icon, icon_square);
    if (!(editing_ && domain == armed_)) {
        const QRect glyph(right - EncTreeLook::kGlyphGap - glyphs.cell_width(), r.top(),
                          glyphs.cell_width(), r.height());
        DrawCentredIn(p, glyphs, expanded ? kExpandedGlyph : kCollapsedGlyph, glyph);
        right = glyph.left();
    }

    const QRect text(icon_square.right() + 1 + EncTreeLook::kTextGap,
                     r.top() + EncTreeLook::kTextInset,
                     std::max(0, right - (icon_square.right() + 1 + EncTreeLook::kTextGap)),
                     r.height() - 2 * EncTreeLook::kTextInset);
    const QString status = StatusText(domain);
    p.setPen(look.text);
    p.setFont(look.host_font);
    const QString name =
        QFontMetrics(look.host_font).elidedText(HostName(host), Qt::ElideRight, text.width());
    p.drawText(
        text,
        Qt::TextSingleLine | Qt::AlignLeft | (status.isEmpty() ? Qt::AlignVCenter : Qt::AlignTop),
        name);
    if (StatusTextShown(domain)) {
        p.setFont(look.status_font);
        p.drawText(text, Qt::TextSingleLine | Qt::AlignLeft | Qt::AlignBottom,
                   QFontMetrics(look.status_font).elidedText(status, Qt::ElideRight, text.width()));
    }
    p.setPen(look.host_line);
    p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
}

void CEncTree::PaintSubEncRow(QPainter& p, const QRect& r, const SubEncNode& node,
                              bool selected) const {
    const EncTreeLook& look = *look_;
    const CImageList& icons = SharedImageList(1);
    const CImageList& glyphs = SharedImageList(2);
    p.fillRect(r, selected ? look.subenc_selected : look.subenc_background);
    int right = r.right() + 1;
    if (selected) {
        const QRect marker(right - EncTreeLook::kGlyphGap - glyphs.cell_width(), r.top(),
                           glyphs.cell_width(), r.height());
        DrawCentredIn(p, glyphs, kSelectionMarker, marker);
        right = marker.left();
    }
    const int icon_left = r.left() + EncTreeLook::kIconLeft + EncTreeLook::kSubEncIndent;
    const QRect icon_square(icon_left, r.top(), icons.cell_width(), r.height());
    DrawCentredIn(p, icons, selected ? kSubEncSelectedIcon : kSubEncIcon, icon_square);
    const int text_left = icon_square.right() + 1 + EncTreeLook::kTextGap;
    const QRect text(text_left, r.top() + EncTreeLook::kTextInset, std::max(0, right - text_left),
                     r.height() - 2 * EncTreeLook::kTextInset);
    p.setPen(!IsCurrent(*node.subenc) ? look.stale_text
             : selected               ? look.selected_text
                                      : look.text);
    p.setFont(look.subenc_font);
    p.drawText(text, Qt::TextSingleLine | Qt::AlignLeft | Qt::AlignVCenter,
               QFontMetrics(look.subenc_font)
                   .elidedText(QString::fromStdU16String(EnclosureDisplayName(node.subenc.get())),
                               Qt::ElideRight, text.width()));
    p.setPen(look.subenc_line);
    p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
}

}  // namespace halvorin
