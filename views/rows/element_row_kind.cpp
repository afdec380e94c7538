#include "views/rows/element_row_kind.h"

#include "views/elem_list_box.h"

namespace halvorin {

void ElementRowKind::Paint(const RowPaint& paint) const {
    paint.list.PaintCommonPart(paint.p, paint.r, paint.row, NameInset());
    PaintDetails(paint);
}

}  // namespace halvorin
