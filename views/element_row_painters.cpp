// The painters of the element list's rows: group headers, the System
// Information body, overview rows and one painter per element group.
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

namespace halvorin {

namespace {

constexpr int kSesSlotText = 326;

constexpr int kNameLeft = 18;
constexpr int kNameRight = 160 - 18;
constexpr int kDetailLeft = 160;

QString Q(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

QString Format(int id, std::initializer_list<FormatArg> args) {
    return Q(FormatString(LoadString(id), args));
}

QString SasAddress(const uint8_t* bytes) {
    QString text;
    for (int i = 0; i < 8; ++i)
        text += QString::asprintf("%02X", bytes[i]);
    return text;
}

// A zero-terminated text of at most `size` bytes of the element's data.
QString DeviceText(const CSesElem& element, size_t offset, size_t size) {
    const auto* begin = reinterpret_cast<const char*>(element.type_data.data() + offset);
    return QString::fromLocal8Bit(begin, qsizetype(strnlen(begin, size))).trimmed();
}

bool NotPresent(uint8_t status) {
    return status == 5 || status == 7 || status == 8;
}

// Draws part of a picture kept at the list's pixel ratio; `source` is in
// the picture's own (device-independent) coordinates.
void DrawPart(QPainter& p, QPoint at, const QImage& image, const QRect& source) {
    const qreal ratio = image.devicePixelRatio();
    const QRectF from(source.x() * ratio, source.y() * ratio, source.width() * ratio,
                      source.height() * ratio);
    p.drawImage(QRectF(at, source.size()), image, from);
}

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

// Group headers; the System Information header is the same on the row's
// own background, without the marker (it never collapses).
void CElemListBox::PaintGroupHeader(QPainter& p, const QRect& r, CItemData& row) {
    const Look& look = *look_;
    const bool panel = row.flags & ROW_PANEL;
    const bool hot = HitRow(hit_code_) >= 0 && Row(HitRow(hit_code_)) == &row && !panel;
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
    p.drawText(
        title, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
        QFontMetrics(look.header_font).elidedText(GroupTitle(row), Qt::ElideRight, title.width()));
}

// The overview's rows: the enclosure and how many of its elements failed.
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

void CElemListBox::PaintSensorRow(QPainter& p, const QRect& r, CItemData& row) {
    const Look& look = *look_;
    PaintCommonPart(p, r, row, 20);
    const HistoryChart& chart = row.chart;
    const int height = chart.geometry.height;
    if ((row.flags & ROW_HAS_CHART) && !chart.picture.isNull()) {
        const int visible = VisibleChartWidth(ContentWidth(), look.chart.label_column);
        if (visible > 0) {
            const int from = look.chart.BlockWidth() - visible;
            const int grid_rows = height + 1 + look.axis_text_height;
            DrawPart(p, QPoint(kChartLeft, kChartTop), look.chart_grid,
                     QRect(from, kChartAreaHeight - height - 1, visible, grid_rows));
            DrawPart(p, QPoint(kChartLeft, kChartTop), chart.picture,
                     QRect(from, 0, visible, height + 1));
        }
    }
    const ElementGroup* group = GroupAt(row.group_row);
    int16_t reading = 0;
    if (!group || group->format == ValueFormat::kNone) return;
    if (ReadHistory(*row.element, std::span(&reading, 1), nullptr) != 1 || reading == 0) return;
    if (row.element->type == kTypeTemperature && reading == -20) return;
    const QString value = Q(FormatValue(group->format, 10 * int64_t(reading)));
    const int bottom =
        r.height() - ((row.flags & ROW_VALUE_AREA) ? look.fail_badge.cell_height() + 27 : 0);
    // A reading past a threshold is drawn in the colour of what it means.
    const Condition condition = ElementCondition(*row.element);
    p.setFont(look.value_font);
    p.setPen(condition == Condition::kFault     ? look.condition_fail
             : condition == Condition::kWarning ? look.condition_warn
                                                : look.name_text);
    const QFontMetrics value_metrics(look.value_font);
    p.drawText(QPoint(kNameLeft, bottom - value_metrics.descent()), value);
    if (group->unit_id) {
        p.setFont(look.unit_font);
        p.drawText(QPoint(kNameLeft + value_metrics.horizontalAdvance(value) + 3,
                          bottom - value_metrics.descent() - 4),
                   LoadQString(group->unit_id));
    }
}

void CElemListBox::PaintPowerSupplyRow(QPainter& p, const QRect& r, CItemData& row) {
    const Look& look = *look_;
    PaintCommonPart(p, r, row, 8);
    struct Condition {
        int text;
        uint32_t bit;
        bool severe;
    };
    static constexpr Condition kConditions[] = {
        {88, kStateOverVoltage, false},        {89, kStateUnderVoltage, false},
        {90, kStateOverCurrent, false},        {91, kStateOverTemperatureFailure, true},
        {92, kStateTemperatureWarning, false}, {93, kStateAcFailure, true},
    };
    p.setFont(look.second_font);
    const QFontMetrics metrics(look.second_font);
    // Labels that do not fit on one line go on to the next (a narrow pane or
    // a long language), so a lit one is never left out.
    struct Placed {
        QString text;
        QColor colour;
        int x, line;
    };
    std::vector<Placed> placed;
    int x = kDetailLeft;
    int line = 0;
    for (const Condition& c : kConditions) {
        const QString text = LoadQString(c.text);
        if (text.isEmpty()) continue;
        const int width = metrics.horizontalAdvance(text) + 1;
        if (x > kDetailLeft && x + width > r.width() - 8) {
            x = kDetailLeft;
            ++line;
        }
        const bool set = row.element->state & c.bit;
        placed.push_back({text,
                          !set       ? look.label_off
                          : c.severe ? look.condition_fail
                                     : look.condition_warn,
                          x, line});
        x += width + 39;
    }
    const int line_height = metrics.height() + 4;
    const int top = (r.height() - (line + 1) * line_height) / 2;
    for (const Placed& label : placed) {
        p.setPen(label.colour);
        p.drawText(QRect(label.x, top + label.line * line_height, r.width(), line_height),
                   Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, label.text);
    }
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

void CElemListBox::PaintSlotRow(QPainter& p, const QRect& r, CItemData& row) {
    const Look& look = *look_;
    PaintCommonPart(p, r, row, 8);
    if (!ShowsSlotDetails(row)) return;
    const CSesElem& element = *row.element;
    p.setFont(look.second_font);
    p.setPen(look.detail_text);
    p.drawText(QRect(kDetailLeft, 0, look.id_led_label_width + 1, r.height()),
               Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, LoadQString(105));
    const QRect switch_rect = SlotSwitchRect(r);
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
               Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, SesSlotText(element));
}

void CElemListBox::PaintExpanderRow(QPainter& p, const QRect& r, CItemData& row) {
    const Look& look = *look_;
    PaintCommonPart(p, r, row, 8);
    const CSesElem& element = *row.element;
    if (NotPresent(element.raw_status[0] & 0x0F) || !(element.data_valid & kDataValid)) return;
    p.setFont(look.element_font);
    p.setPen(look.detail_text);
    const QString text =
        Format(108, {int64_t(element.type_data[1]), int64_t(element.type_data[2]),
                     int64_t(element.type_data[3]), int64_t(element.type_data[4]),
                     int64_t(element.type_data[5]), int64_t(element.type_data[6]),
                     int64_t(element.type_data[7]), int64_t(element.type_data[8])});
    p.drawText(QRect(178, 0, r.width() - 178, r.height()),
               Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
}

void CElemListBox::PaintPortRow(QPainter& p, const QRect& r, CItemData& row) {
    const Look& look = *look_;
    PaintCommonPart(p, r, row, 8);
    const CSesElem& element = *row.element;
    if ((element.raw_status[0] & 0x0F) == 5 || !(element.data_valid & kDataValid) ||
        element.type_data[1] == 0) {
        return;
    }
    p.setFont(look.second_font);
    p.setPen(look.detail_text);
    const QFontMetrics metrics(look.second_font);
    const QString link = Format(75, {int64_t(element.type_data[0])});
    const QString from = Format(173, {SasAddress(element.type_data.data() + 2).toStdU16String()});
    const int link_width = metrics.horizontalAdvance(link);
    p.drawText(QRect(kDetailLeft, 0, link_width + 1, r.height()),
               Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, link);
    const int x = kDetailLeft + link_width + 20;
    p.drawText(QRect(x, 0, std::max(0, r.width() - x), r.height()),
               Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
               metrics.elidedText(from, Qt::ElideRight, std::max(0, r.width() - x)));
}

}  // namespace halvorin
