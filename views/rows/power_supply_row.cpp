// Power supply rows: a label per condition the supply reports, lit in the
// colour of its weight when the supply says so.
#include <QFontMetrics>
#include <vector>

#include "enclosure/model/element_types.h"
#include "enclosure/model/ses_elem.h"
#include "shell/theme/string_resources.h"
#include "views/elem_list_box.h"
#include "views/elem_list_look.h"
#include "views/rows/element_row_kind.h"
#include "views/rows/row_drawing.h"

namespace halvorin {

namespace {

using namespace rows;

struct PowerCondition {
    int text;
    uint32_t bit;
    bool severe;
};

constexpr PowerCondition kConditions[] = {
    {88, kStateOverVoltage, false},        {89, kStateUnderVoltage, false},
    {90, kStateOverCurrent, false},        {91, kStateOverTemperatureFailure, true},
    {92, kStateTemperatureWarning, false}, {93, kStateAcFailure, true},
};

class PowerSupplyRow final : public ElementRowKind {
  public:
    void PaintDetails(const RowPaint& paint) const override {
        const CElemListBox::Look& look = paint.list.RowLook();
        const QRect& r = paint.r;
        QPainter& p = paint.p;
        p.setFont(look.second_font);
        const QFontMetrics metrics(look.second_font);
        // Labels that do not fit on one line go on to the next (a narrow
        // pane or a long language), so a lit one is never left out.
        struct Placed {
            QString text;
            QColor colour;
            int x, line;
        };
        std::vector<Placed> placed;
        int x = kDetailLeft;
        int line = 0;
        for (const PowerCondition& c : kConditions) {
            const QString text = LoadQString(c.text);
            if (text.isEmpty()) continue;
            const int width = metrics.horizontalAdvance(text) + 1;
            if (x > kDetailLeft && x + width > r.width() - 8) {
                x = kDetailLeft;
                ++line;
            }
            const bool set = paint.row.element->state & c.bit;
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
};

}  // namespace

const ElementRowKind& PowerSupplyRowKind() {
    static const PowerSupplyRow kind;
    return kind;
}

}  // namespace halvorin
