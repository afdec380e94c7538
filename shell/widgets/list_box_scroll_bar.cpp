#include "shell/widgets/list_box_scroll_bar.h"

#include <algorithm>

namespace halvorin {

CListBoxSB::CListBoxSB(QWidget* control, FlatScrollList& list) : CFlatSB(control), list_(list) {}

void CListBoxSB::ContentChanged() {
    int64_t total = 0;
    for (int i = 0, n = list_.RowCount(); i < n; ++i)
        total += list_.RowHeight(i);
    content_height_ = total;
    if (!scrolling_ && !dragging()) Recompute();
}

int CListBoxSB::LastTopRow() const {
    int64_t room = TrackLength();
    int row = list_.RowCount();
    while (row > 0 && room >= list_.RowHeight(row - 1))
        room -= list_.RowHeight(--row);
    return std::min(row, std::max(0, list_.RowCount() - 1));
}

ThumbPlace CListBoxSB::Place() const {
    const int track = TrackLength();
    const int top = list_.TopRow();
    if (content_height_ <= track && top == 0) return {};
    const int last = LastTopRow();
    return PlaceThumb(track, int64_t(track) * track, content_height_, top,
                      std::max(0, list_.RowCount() - 1), top >= last);
}

void CListBoxSB::ScrollForDrag(int dy, bool at_end) {
    const int track = TrackLength();
    const int spare = track - thumb().height();
    if (spare <= 0) return;
    // Thumb pixels to content pixels, in 1/32 px so slow drags still move.
    const int64_t factor = (content_height_ - track + 200) * 32 / spare;
    int64_t remainder = drag_remainder_ + int64_t(dy) * factor;
    int row = list_.TopRow();
    const int last = LastTopRow();
    while (remainder > 0 && row < last && remainder >= int64_t(list_.RowHeight(row)) * 32) {
        remainder -= int64_t(list_.RowHeight(row++)) * 32;
    }
    while (remainder < 0 && row > 0 && -remainder >= int64_t(list_.RowHeight(row - 1)) * 32) {
        remainder += int64_t(list_.RowHeight(--row)) * 32;
    }
    drag_remainder_ =
        at_end ? 0
               : static_cast<int32_t>(std::clamp<int64_t>(remainder, INT32_MIN / 2, INT32_MAX / 2));
    if (at_end) row = thumb().top() == 0 ? 0 : last;
    scrolling_ = true;
    list_.SetTopRow(row);
    scrolling_ = false;
}

void CListBoxSB::LineUp() {
    list_.SetTopRow(std::max(0, list_.TopRow() - 1));
    Recompute();
}

void CListBoxSB::LineDown() {
    list_.SetTopRow(std::min(LastTopRow(), list_.TopRow() + 1));
    Recompute();
}

}  // namespace halvorin
