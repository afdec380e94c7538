// What the element list's rows share, whatever their kind (views/rows/):
// the titles of groups and elements, the texts screen readers and tool tips
// read, the part every element row paints first, and the slot switch's
// place, which painting and hit testing both need.
#include <QFontMetrics>
#include <QPainter>

#include "base/string_table.h"
#include "base/text_format.h"
#include "enclosure/model/display_name.h"
#include "enclosure/model/element_condition.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/ses_dev.h"
#include "shell/theme/shared_look.h"
#include "shell/theme/string_resources.h"
#include "views/elem_list_box.h"
#include "views/elem_list_look.h"
#include "views/rows/row_drawing.h"

namespace halvorin {

namespace {

constexpr int kSesSlotText = 326;

using namespace rows;

constexpr int kNameRight = kDetailLeft - 18;

// Text in a rectangle, wrapped at words, with "..." on the last line that fits.
void DrawWrapped(QPainter& p, const QRect& box, int alignment, const QString& text) {
    const QFontMetrics metrics(p.font());
    const QRect needed = metrics.boundingRect(box, Qt::TextWordWrap | alignment, text);
    if (needed.height() <= box.height()) {
        p.drawText(box, Qt::TextWordWrap | alignment, text);
        return;
    }
    const int lines = std::max(1, box.height() / metrics.lineSpacing());
    QString shown = text;
    while (!shown.isEmpty() && metrics.boundingRect(box, Qt::TextWordWrap, shown + "...").height() >
                                   lines * metrics.lineSpacing()) {
        const int cut = shown.lastIndexOf(' ');
        shown = cut > 0 ? shown.left(cut) : shown.left(shown.size() - 1);
    }
    p.drawText(box, Qt::TextWordWrap | alignment, shown + "...");
}

}  // namespace

QString CElemListBox::GroupTitle(const CItemData& header) const {
    const ElementGroup* group = GroupAt(header.group_row);
    if (!group) return {};
    const bool numbered = header.type_desc && header.type_desc->ordinal != 0;
    const std::u16string suffix =
        numbered ? FormatString(LoadString(152), {int64_t(header.type_desc->ordinal)})
                 : std::u16string();
    return Q(CapitalizeWords(FormatString(LoadString(group->title_id), {suffix})));
}

QString CElemListBox::ElementTitle(const CItemData& row) const {
    std::u16string name = ElementName(row.element.get());
    if (name.empty()) {
        const ElementGroup* group = GroupAt(row.group_row);
        if (group) {
            name = FormatString(LoadString(group->element_name_id),
                                {int64_t(row.element->element_index) + 1});
        }
    }
    return Q(CapitalizeWords(name + u":"));
}

QString CElemListBox::RowText(int index) const {
    const CItemData* row = Row(index);
    if (!row) return {};
    if (row->flags & ROW_GROUP_HEADER) {
        QString text = GroupTitle(*row);
        if (row->group_count > 0) text += " " + Format(65, {int64_t(row->group_count)});
        return text;
    }
    if (row->flags & ROW_OVERVIEW) {
        return row->subenc ? OverviewRowText(OverviewShownOf(row->subenc.get()))
                           : OverviewColumnTitle(kOverviewNameColumn);
    }
    if (row->flags & ROW_PANEL) return current_ ? Q(EnclosureDisplayName(current_.get())) : "";
    if (!row->element) return {};
    QString text = ElementTitle(*row);
    if (row->flags & ROW_FAILED) text += " FAIL";
    int16_t reading = 0;
    int32_t total = 0;
    const ElementGroup* group = GroupAt(row->group_row);
    if (group && group->format != ValueFormat::kNone &&
        ReadHistory(*row->element, std::span(&reading, 1), &total) == 1 && reading != 0) {
        text += " " + Q(FormatValue(group->format, 10 * int64_t(reading)));
        if (group->unit_id) text += " " + LoadQString(group->unit_id);
    }
    if ((row->flags & ROW_SLOT) && (row->element->data_valid & kDataValid))
        text += " " + SesSlotText(*row->element);
    if ((row->flags & ROW_SLOT) && !NotPresent(row->shown_status)) {
        text +=
            " " + LoadQString(105) + ((row->element->state & kStateIdentifyOn) ? " on" : " off");
    }
    return text;
}

// The number the enclosure gives the slot, which halvorinctl's ident takes
// and its reports print; the row's title counts slots from 1 in list order.
QString CElemListBox::SesSlotText(const CSesElem& element) const {
    return Format(kSesSlotText, {int64_t(element.type_data[kSlotNumber])});
}

// ---- headers and panel ----------------------------------------------------------

// ---- element rows ---------------------------------------------------------------

int CElemListBox::PaintCommonPart(QPainter& p, const QRect& r, CItemData& row, int inset) {
    const Look& look = *look_;
    const CSesElem& element = *row.element;
    if (IsFault(element)) {
        row.flags |= ROW_FAILED;
    } else {
        row.flags &= ~uint32_t(ROW_FAILED);
    }
    const bool last_of_list = !rows_.empty() && rows_.back() == &row;
    if (!(row.flags & ROW_NO_BOTTOM_LINE) || last_of_list) {
        p.setPen(look.separator);
        p.drawLine((row.flags & ROW_INDENT_LINE) ? 18 : 0, r.height() - 1, r.width() - 1,
                   r.height() - 1);
    }
    const bool centred = (element.type == kTypeDeviceSlot || element.type == kTypeArrayDeviceSlot ||
                          element.type == kTypePowerSupply || element.type == kTypePortEntry) &&
                         !(row.flags & ROW_FAILED);
    p.setFont(look.element_font);
    p.setPen(look.name_text);
    const QRect name_box(kNameLeft, inset, kNameRight - kNameLeft, r.height() - 2 * inset);
    const QString name = ElementTitle(row);
    DrawWrapped(p, name_box, Qt::AlignLeft | (centred ? Qt::AlignVCenter : Qt::AlignTop), name);
    int below =
        inset +
        QFontMetrics(look.element_font).boundingRect(name_box, Qt::TextWordWrap, name).height();
    if (element.type == kTypeCooling) {
        static constexpr int kSpeedTexts[] = {195, 196, 197, 198, 199, 200, 201, 202};
        p.setFont(look.second_font);
        p.setPen(look.detail_text);
        const QString speed = Format(194, {LoadString(kSpeedTexts[element.raw_status[3] & 7])});
        p.drawText(
            QRect(kNameLeft, below + 2, kNameRight - kNameLeft + 20, look.second_text_height),
            Qt::AlignLeft | Qt::TextSingleLine, speed);
        below += 2 + look.second_text_height;
    }
    if (row.flags & ROW_FAILED) {
        const bool slot = element.type == kTypeDeviceSlot || element.type == kTypeArrayDeviceSlot;
        const CImageList& badge = slot ? look.slot_fail_badge : look.fail_badge;
        badge.Draw(p, 0, QPoint(kNameLeft, r.height() - badge.cell_height() - 2));
    }
    return below;
}

bool CElemListBox::ShowsSlotDetails(const CItemData& row) const {
    return row.element && !NotPresent(row.element->raw_status[0] & 0x0F);
}

QRect CElemListBox::SlotSwitchRect(const QRect& row_rect) const {
    const CImageList& switches = SharedImageList(5);
    const QSize size =
        switches.empty() ? QSize(60, 24) : QSize(switches.cell_width(), switches.cell_height());
    return QRect(QPoint(kDetailLeft + look_->id_led_label_width + 8,
                        (row_rect.height() - size.height()) / 2),
                 size);
}

uint32_t CElemListBox::HotSpotIn(const CItemData& row) const {
    return Row(HitRow(hit_code_)) == &row ? HitSpot(hit_code_) : HS_NONE;
}

}  // namespace halvorin
