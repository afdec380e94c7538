// Cooling, temperature and voltage rows: the history chart beside the name
// and the last reading below it, in the colour of the threshold it passed.
#include <QFontMetrics>

#include "enclosure/model/element_condition.h"
#include "enclosure/model/element_types.h"
#include "shell/theme/string_resources.h"
#include "views/chart_geometry.h"
#include "views/elem_list_box.h"
#include "views/elem_list_look.h"
#include "views/rows/element_row_kind.h"
#include "views/rows/row_drawing.h"
#include "views/value_format.h"

namespace halvorin {

namespace {

using namespace rows;

class SensorRow final : public ElementRowKind {
  public:
    int NameInset() const override { return 20; }

    void PaintDetails(const RowPaint& paint) const override {
        DrawChart(paint);
        DrawReading(paint);
    }

  private:
    static void DrawChart(const RowPaint& paint) {
        const CElemListBox::Look& look = paint.list.RowLook();
        const HistoryChart& chart = paint.row.chart;
        if (!(paint.row.flags & ROW_HAS_CHART) || chart.picture.isNull()) return;
        const int visible = VisibleChartWidth(paint.list.ContentWidth(), look.chart.label_column);
        if (visible <= 0) return;
        const int height = chart.geometry.height;
        const int from = look.chart.BlockWidth() - visible;
        const int grid_rows = height + 1 + look.axis_text_height;
        DrawPart(paint.p, QPoint(kChartLeft, kChartTop), look.chart_grid,
                 QRect(from, kChartAreaHeight - height - 1, visible, grid_rows));
        DrawPart(paint.p, QPoint(kChartLeft, kChartTop), chart.picture,
                 QRect(from, 0, visible, height + 1));
    }

    static void DrawReading(const RowPaint& paint) {
        const CElemListBox::Look& look = paint.list.RowLook();
        const CItemData& row = paint.row;
        const ElementGroup* group = GroupAt(row.group_row);
        int16_t reading = 0;
        if (!group || group->format == ValueFormat::kNone) return;
        if (ReadHistory(*row.element, std::span(&reading, 1), nullptr) != 1 || reading == 0) return;
        if (row.element->type == kTypeTemperature && reading == -20) return;
        const QString value = Q(FormatValue(group->format, 10 * int64_t(reading)));
        const int bottom = paint.r.height() -
                           ((row.flags & ROW_VALUE_AREA) ? look.fail_badge.cell_height() + 27 : 0);
        // A reading past a threshold is drawn in the colour of what it means.
        const Condition condition = ElementCondition(*row.element);
        QPainter& p = paint.p;
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
};

}  // namespace

const ElementRowKind& SensorRowKind() {
    static const SensorRow kind;
    return kind;
}

}  // namespace halvorin
