// CTreeCtrlSB: the flat bar on a tree view that scrolls by whole items. The
// tree's own scroll bar stays hidden and still keeps the scroll range and
// position, which the flat bar reads and sets. The tree's owner gives the
// bar its room through `reserve`.
#pragma once

#include <QPointer>
#include <QTreeView>
#include <functional>

#include "shell/widgets/flat_scroll_bar.h"

namespace halvorin {

class CTreeCtrlSB : public CFlatSB {
    Q_OBJECT

  public:
    CTreeCtrlSB(QTreeView* tree, std::function<void(int width)> reserve);

    void LineUp();
    void LineDown();

  protected:
    ThumbPlace Place() const override;
    void ScrollForDrag(int dy, bool at_end) override;
    void ReserveWidth(int width) override { reserve_(width); }
    void WheelOnBar(QWheelEvent* event) override;

  private:
    int RowHeight() const;
    QTreeView* const tree_;
    std::function<void(int)> reserve_;
};

}  // namespace halvorin
