// One kind of element row: what a row shows of its element beyond what
// every element row shows (its name, the failure badge and the separator,
// which the list paints first). Each group of the element group table names
// the kind of its rows, so a new element type's row is a kind in a file of
// its own in this folder, a row of that table and its strings.
#pragma once

#include <QRect>

class QPainter;

namespace halvorin {

class CElemListBox;
struct CItemData;

// A row being painted, with the list that paints it (its look, width and
// layouts).
struct ElementRowPaint {
    QPainter& p;
    QRect r;  // the row's rectangle, at (0, 0)
    CItemData& row;
    const CElemListBox& list;
};

class ElementRowKind {
  public:
    virtual ~ElementRowKind() = default;
    // How far below the row's top the element's name begins.
    virtual int NameInset() const { return 8; }
    virtual void Paint(const ElementRowPaint& paint) const = 0;
};

}  // namespace halvorin
