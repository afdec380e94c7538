// The System Information panel's body: the panel paints itself, with the
// list's look, focus and hot spot.
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
