// One kind of element row: what a row shows of its element beyond what
// every element row shows (its name, the failure badge and the separator,
// which are painted first). Each group of the element group table names the
// kind of its rows, so a new element type's row is a kind in a file of its
// own in this folder, a row of that table and its strings.
#pragma once

#include "views/rows/row_kind.h"

namespace halvorin {

class ElementRowKind : public RowKind {
  public:
    // How far below the row's top the element's name begins.
    virtual int NameInset() const { return 8; }
    // What the kind adds to the common part.
    virtual void PaintDetails(const RowPaint& paint) const = 0;

    void Paint(const RowPaint& paint) const final;
};

}  // namespace halvorin
