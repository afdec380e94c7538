#include "shell/widgets/tree_ctrl_scroll_bar.h"

#include <QApplication>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>

namespace halvorin {

CTreeCtrlSB::CTreeCtrlSB(QTreeView* tree, std::function<void(int)> reserve)
    : CFlatSB(tree), tree_(tree), reserve_(std::move(reserve)) {
    tree->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    tree->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QScrollBar* bar = tree->verticalScrollBar();
    connect(bar, &QScrollBar::rangeChanged, this, [this] { Recompute(); });
    connect(bar, &QScrollBar::valueChanged, this, [this] {
        if (!dragging()) Recompute();
    });
}

int CTreeCtrlSB::RowHeight() const {
    const QModelIndex first = tree_->indexAt(QPoint(0, 0));
    const int height = first.isValid() ? tree_->visualRect(first).height() : 0;
    return std::max(height, 1);
}

ThumbPlace CTreeCtrlSB::Place() const {
    const QScrollBar* bar = tree_->verticalScrollBar();
    if (bar->maximum() <= 0) return {};
    // Items in the tree's unit: the range covers what is not on the first page.
    const int visible_rows = std::max(1, bar->pageStep());
    const int64_t items = int64_t(bar->maximum()) + visible_rows;
    const int track = TrackLength();
    return PlaceThumb(track, int64_t(track) * visible_rows, items, bar->value(), int(items - 1),
                      bar->value() >= bar->maximum());
}

void CTreeCtrlSB::ScrollForDrag(int dy, bool at_end) {
    QScrollBar* bar = tree_->verticalScrollBar();
    const int track = std::max(1, TrackLength());
    const int64_t factor = int64_t(RowHeight()) * (bar->maximum() + 2) * 32 / track;
    int64_t remainder = drag_remainder_ + int64_t(dy) * factor;
    const int64_t step = int64_t(RowHeight()) * 32;
    const int64_t rows = remainder / step;
    remainder -= rows * step;
    drag_remainder_ = at_end ? 0 : static_cast<int32_t>(remainder);
    int value = static_cast<int>(std::clamp<int64_t>(bar->value() + rows, 0, bar->maximum()));
    if (at_end) value = thumb().top() == 0 ? 0 : bar->maximum();
    bar->setValue(value);
}

void CTreeCtrlSB::LineUp() {
    tree_->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
}

void CTreeCtrlSB::LineDown() {
    tree_->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
}

void CTreeCtrlSB::WheelOnBar(QWheelEvent* event) {
    QApplication::sendEvent(tree_->viewport(), event);
}

}  // namespace halvorin
