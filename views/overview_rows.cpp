#include "views/overview_rows.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <numeric>

#include "base/string_table.h"
#include "base/text_format.h"
#include "enclosure/model/display_name.h"
#include "enclosure/model/element_naming.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/reachability.h"
#include "shell/theme/stale_text.h"
#include "views/elem_list_box.h"
#include "views/elem_list_look.h"

namespace halvorin {

namespace {

constexpr int kDisplayNameFormat = 151;
constexpr int kFaultText = 137;
constexpr int kOkText = 138;

QString Q(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

// The widest display name the name column must hold: a generated one.
QString SampleDisplayName() {
    return Q(FormatString(LoadString(kDisplayNameFormat),
                          {std::u16string(u"Axxx-xxxxxx"), int64_t(0), int64_t(1), int64_t(10),
                           int64_t(11), int64_t(12), int64_t(13), int64_t(14), int64_t(15)}));
}

}  // namespace

const std::array<OverviewColumn, kOverviewColumnCount>& OverviewColumns() {
    static const std::array<OverviewColumn, kOverviewColumnCount> columns = {{
        {213, 0, 10},
        {64, kTypeArrayDeviceSlot, 3},
        {68, kTypePowerSupply, 7},
        {30, kTypeCooling, 1},
        {35, kTypeTemperature, 2},
        {40, kTypeVoltage, 4},
        {113, 0, -1},
    }};
    return columns;
}

QString OverviewColumnTitle(int column) {
    const int id = OverviewColumns()[size_t(column)].title_id;
    return Q(CapitalizeWords(FormatString(LoadString(id), {std::u16string()})));
}

int OverviewLayout::Left(int column) const {
    return std::accumulate(widths.begin(), widths.begin() + column, 0);
}

OverviewLayout LayOutOverviewColumns(int list_width, const QFont& header_font, int icon_width) {
    OverviewLayout layout;
    layout.list_width = list_width;
    if (list_width <= 0) return layout;
    const QFontMetrics metrics(header_font);
    layout.widths[0] = metrics.horizontalAdvance(SampleDisplayName()) + 12;
    const int share = (list_width - layout.widths[0]) / 6 - icon_width - 12;
    for (int column = 1; column < kOverviewColumnCount; ++column) {
        const QRect wrapped = metrics.boundingRect(QRect(0, 0, std::max(1, share), 10000),
                                                   Qt::TextWordWrap, OverviewColumnTitle(column));
        layout.widths[size_t(column)] = wrapped.width() + icon_width + 18;
    }
    const int remainder =
        list_width - std::accumulate(layout.widths.begin(), layout.widths.end(), 0);
    if (remainder > 0) {
        for (int& width : layout.widths)
            width += remainder / kOverviewColumnCount;
    }
    return layout;
}

OverviewShown OverviewShownOf(const CSubEnc* subenc) {
    const SubEncSummary info = SubEncInfo(subenc);
    OverviewShown shown;
    shown.name = EnclosureDisplayName(info);
    for (int column = 0; column < kOverviewColumnCount; ++column) {
        const uint8_t type = OverviewColumns()[size_t(column)].type;
        if (type != 0) shown.counts[size_t(column)] = info.counters[type];
    }
    shown.buzzer_sounding = info.indicators & kIndicatorBuzzer;
    shown.current = IsCurrent(*subenc);
    if (!shown.current) shown.last_read = LastReadTime(*subenc);
    return shown;
}

QString OverviewCellText(const OverviewShown& shown, int column) {
    const TypeCounter& count = shown.counts[size_t(column)];
    const bool failed = count.failed != 0;
    return Q(FormatString(LoadString(failed ? kFaultText : kOkText),
                          {int64_t(failed ? count.failed : count.count)}));
}

QString OverviewRowText(const OverviewShown& shown) {
    QStringList parts;
    for (int column = 1; column < kOverviewStatusColumn; ++column)
        parts << OverviewColumnTitle(column) + " " + OverviewCellText(shown, column);
    if (!shown.current) parts << StaleShortText(shown.last_read);
    return Q(shown.name) + ": " + parts.join(", ");
}

// ---- the list's overview rows -------------------------------------------------------

const OverviewLayout& CElemListBox::Overview() const {
    const int list_width = ListWidth();
    if (overview_layout_.list_width != list_width) {
        overview_layout_ = LayOutOverviewColumns(list_width, look_->overview_header_font,
                                                 look_->group_icons_hot.cell_width());
    }
    return overview_layout_;
}

// The one-second pass of the dashboard: repaints the rows whose counts,
// name or buzzer changed since they were painted; the row set itself is
// rebuilt every three seconds.
int CElemListBox::RefreshOverview() {
    int changed = 0;
    for (int i = TopRow(), y = 0; i < RowCount() && y < height(); ++i) {
        CItemData& row = *rows_[size_t(i)];
        y += RowHeight(i);
        if (!row.subenc || !row.overview_shown) continue;
        if (*row.overview_shown == OverviewShownOf(row.subenc.get())) continue;
        row.flags |= ROW_DIRTY;
        ++changed;
    }
    if (changed) RepaintDirtyRows();
    return changed;
}

}  // namespace halvorin
