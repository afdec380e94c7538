// One kind of row of the element list: how a row of that kind paints. The
// list owns its rows and lays them out; each row names its kind, and the
// kinds live one to a file in this folder.
#pragma once

#include <QRect>

class QPainter;

namespace halvorin {

class CElemListBox;
struct CItemData;

// A row being painted, with the list that paints it (its look, width,
// layouts and the pointer's hot spot).
struct RowPaint {
    QPainter& p;
    QRect r;  // the row's rectangle, at (0, 0)
    CItemData& row;
    int index;  // the row's place in the list
    CElemListBox& list;
};

class RowKind {
  public:
    virtual ~RowKind() = default;
    virtual void Paint(const RowPaint& paint) const = 0;
};

// The kinds of the list's own rows; element rows take theirs from the
// element group table.
const RowKind& GroupHeaderRowKind();
const RowKind& PanelBodyRowKind();
const RowKind& OverviewRowKind();
const RowKind& ZoningHeadRowKind();

}  // namespace halvorin
