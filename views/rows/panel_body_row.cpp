// The System Information panel's body. The panel's state (its controls'
// places, the name editor, the firmware box) is the list's, so the list
// paints it.
#include "views/elem_list_box.h"
#include "views/rows/row_kind.h"

namespace halvorin {

namespace {

class PanelBodyRow final : public RowKind {
  public:
    void Paint(const RowPaint& paint) const override {
        paint.list.PaintPanelBody(paint.p, paint.r, paint.row);
    }
};

}  // namespace

const RowKind& PanelBodyRowKind() {
    static const PanelBodyRow kind;
    return kind;
}

}  // namespace halvorin
