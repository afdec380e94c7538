#include "shell/widgets/painted_list.h"

#include <QKeyEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>

#include "shell/theme/theme_color.h"
#include "shell/widgets/painted_list_accessible.h"

namespace halvorin {

CPaintedList::CPaintedList(QWidget* parent)
    : QWidget(parent),
      scroll_bar_(std::make_unique<CListBoxSB>(this, *this)),
      focus_ring_(LoadThemeQColor(417, Rgb(0x43, 0xa0, 0xae))) {
    InstallPaintedListAccessibility();
    setFocusPolicy(Qt::StrongFocus);
}

CPaintedList::~CPaintedList() = default;

// ---- geometry and scrolling ------------------------------------------------------

int CPaintedList::ListWidth() const {
    return std::max(0, width() - bar_width_);
}

void CPaintedList::SetTopRow(int row) {
    const int top = std::clamp(row, 0, std::max(0, RowCount() - 1));
    if (top == top_row_) return;
    top_row_ = top;
    if (scroll_bar_ && !scroll_bar_->dragging()) scroll_bar_->Recompute();
    update();
}

QRect CPaintedList::RowRect(int row) const {
    if (row < top_row_ || row >= RowCount()) return {};
    int y = 0;
    for (int i = top_row_; i < row; ++i) {
        y += RowHeight(i);
        if (y >= height()) return {};
    }
    if (y >= height()) return {};
    return {0, y, ListWidth(), RowHeight(row)};
}

int CPaintedList::RowAt(QPoint at) const {
    if (at.x() < 0 || at.x() >= ListWidth() || at.y() < 0) return -1;
    int y = 0;
    for (int i = top_row_; i < RowCount() && y < height(); ++i) {
        const int h = RowHeight(i);
        if (at.y() < y + h) return i;
        y += h;
    }
    return -1;
}

// Scrolls as little as needed: a row above the view becomes the top row, a
// row below it the bottom one (or the top one when it is taller than the list).
void CPaintedList::EnsureVisible(int row) {
    if (row < 0 || row >= RowCount()) return;
    if (row < top_row_) {
        int top = row;
        while (top > 0 && RowHeight(top - 1) == 0)  // nothing to show above it
            --top;
        SetTopRow(top);
    } else {
        int fits = row;
        int used = RowHeight(row);
        while (fits > 0 && used + RowHeight(fits - 1) <= height())
            used += RowHeight(--fits);
        if (top_row_ < fits) SetTopRow(fits);
    }
    scroll_bar_->Recompute();
}

void CPaintedList::ReserveBarWidth(int width) {
    bar_width_ = width;
    update();
}

void CPaintedList::RowsInserted(int at, int count) {
    if (count <= 0) return;
    if (at <= top_row_ && RowCount() > count) top_row_ += count;
    if (current_row_ >= at) current_row_ += count;
    AnnounceRows(QAccessible::ObjectCreated, at, count);
}

void CPaintedList::RowsRemoved(int from, int count) {
    if (count <= 0) return;
    const int end = from + count;
    if (top_row_ >= end) {
        top_row_ -= count;
    } else if (top_row_ > from) {
        top_row_ = from;
    }
    if (current_row_ >= end) {
        current_row_ -= count;
    } else if (current_row_ >= from) {
        current_row_ = from - 1;
        current_control_ = -1;
    }
    AnnounceRows(QAccessible::ObjectReorder, from, count);
}

void CPaintedList::RowsChanged() {
    top_row_ = std::clamp(top_row_, 0, std::max(0, RowCount() - 1));
    current_row_ = std::min(current_row_, RowCount() - 1);
    scroll_bar_->ContentChanged();
    top_row_ = std::min(top_row_, scroll_bar_->LastTopRow());
    scroll_bar_->Recompute();
}

// ---- the keyboard's row ----------------------------------------------------------

void CPaintedList::SetCurrentRow(int row) {
    if (RowCount() == 0) {
        current_row_ = -1;
        return;
    }
    row = std::clamp(row, 0, RowCount() - 1);
    update(RowRect(current_row_));
    if (row != current_row_) current_control_ = -1;
    current_row_ = row;
    EnsureVisible(row);
    update(RowRect(row));
    AnnounceFocus();
}

// The next row in `direction` that has a height (rows of none are not
// shown); `from` itself when there is none.
int CPaintedList::StepRow(int from, int direction) const {
    for (int row = from + direction; row >= 0 && row < RowCount(); row += direction) {
        if (RowHeight(row) > 0) return row;
    }
    return from;
}

void CPaintedList::SetCurrentControl(int index) {
    current_control_ = current_row_ >= 0 ? index : -1;
    update(RowRect(current_row_));
}

// Left from the first control goes back to the row; Right stops at the last.
bool CPaintedList::MoveToControl(int direction) {
    if (current_row_ < 0) return false;
    const int count = int(RowControls(current_row_).size());
    const int to = std::clamp(std::min(current_control_, count - 1) + direction, -1, count - 1);
    if (count == 0 || to == current_control_) return false;
    current_control_ = to;
    EnsureVisible(current_row_);
    update(RowRect(current_row_));
    if (current_control_ < 0)
        AnnounceFocus();
    else
        AnnounceControlFocus();
    return true;
}

// The row's controls may have changed since the ring went there (a button
// comes and goes with what the enclosure reports): a control no longer there
// is not pressed.
bool CPaintedList::PressCurrentControl() {
    const std::vector<RowControl> controls = RowControls(current_row_);
    if (current_control_ >= int(controls.size())) {
        current_control_ = -1;
        update(RowRect(current_row_));
        return false;
    }
    const RowControl& control = controls[size_t(current_control_)];
    if (!control.enabled) return false;
    PressRowControl(current_row_, control.id);
    update(RowRect(current_row_));
    return true;
}

// The rows that fit on the screen from the top row on: a page.
int CPaintedList::PageRows() const {
    int rows = 0;
    for (int i = top_row_, y = 0; i < RowCount(); ++i) {
        y += RowHeight(i);
        if (y > height()) break;
        ++rows;
    }
    return std::max(1, rows);
}

void CPaintedList::keyPressEvent(QKeyEvent* event) {
    if (RowCount() == 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    const int from = current_row_ >= 0 ? current_row_ : StepRow(top_row_ - 1, 1);
    int to = from;
    switch (event->key()) {
        case Qt::Key_Up:
            to = current_row_ >= 0 ? StepRow(from, -1) : from;
            break;
        case Qt::Key_Down:
            to = current_row_ >= 0 ? StepRow(from, 1) : from;
            break;
        case Qt::Key_PageUp:
            for (int i = PageRows(); i > 0; --i)
                to = StepRow(to, -1);
            break;
        case Qt::Key_PageDown:
            for (int i = PageRows(); i > 0; --i)
                to = StepRow(to, 1);
            break;
        case Qt::Key_Home:
            to = StepRow(-1, 1);
            break;
        case Qt::Key_End:
            to = StepRow(RowCount(), -1);
            break;
        case Qt::Key_Left:
        case Qt::Key_Right:
            if (!MoveToControl(event->key() == Qt::Key_Right ? 1 : -1))
                QWidget::keyPressEvent(event);
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
            if (current_control_ >= 0) {
                if (!PressCurrentControl()) QWidget::keyPressEvent(event);
            } else if (current_row_ >= 0 && RowHasAction(current_row_)) {
                ActivateRow(current_row_);
            } else {
                QWidget::keyPressEvent(event);
            }
            return;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    SetCurrentRow(to);
    KeyboardMoved(to);
}

void CPaintedList::wheelEvent(QWheelEvent* event) {
    const int steps = event->angleDelta().y() / 120;
    if (steps == 0) return;
    SetTopRow(std::min(scroll_bar_->LastTopRow(), top_row_ - steps * wheel_rows_));
    scroll_bar_->Recompute();
}

void CPaintedList::focusInEvent(QFocusEvent* event) {
    if (current_row_ < 0 && RowCount() > 0) current_row_ = StepRow(top_row_ - 1, 1);
    update(RowRect(current_row_));
    AnnounceFocus();
    QWidget::focusInEvent(event);
}

void CPaintedList::focusOutEvent(QFocusEvent* event) {
    update(RowRect(current_row_));
    QWidget::focusOutEvent(event);
}

// Screen readers keep a copy of the rows: each row that came is announced
// (a burst, as one reordering), as is a change of rows that went.
void CPaintedList::AnnounceRows(QAccessible::Event kind, int at, int count) {
    if (!QAccessible::isActive()) return;
    if (kind == QAccessible::ObjectCreated && count <= kAnnouncedRows) {
        for (int row = at; row < at + count; ++row) {
            QAccessibleEvent created(this, QAccessible::ObjectCreated);
            created.setChild(row);
            QAccessible::updateAccessibility(&created);
        }
        return;
    }
    QAccessibleEvent reorder(this, QAccessible::ObjectReorder);
    QAccessible::updateAccessibility(&reorder);
}

// A control of the keyboard's row is the row's child to screen readers.
void CPaintedList::AnnounceControlFocus() {
    if (!hasFocus() || !QAccessible::isActive()) return;
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(this);
    QAccessibleInterface* row = list ? list->child(current_row_) : nullptr;
    QAccessibleInterface* control = row ? row->child(current_control_) : nullptr;
    if (!control) return;
    QAccessibleEvent focus(control, QAccessible::Focus);
    QAccessible::updateAccessibility(&focus);
}

// Screen readers follow the keyboard's row as the focused item.
void CPaintedList::AnnounceFocus() {
    if (!hasFocus() || current_row_ < 0 || !QAccessible::isActive()) return;
    QAccessibleEvent focus(this, QAccessible::Focus);
    focus.setChild(current_row_);
    QAccessible::updateAccessibility(&focus);
}

// ---- painting --------------------------------------------------------------------

int CPaintedList::PaintRows(QPainter& p, const QRegion& region) {
    int y = 0;
    for (int i = top_row_; i < RowCount() && y < height(); ++i) {
        const int h = RowHeight(i);
        const QRect r(0, y, ListWidth(), h);
        if (h > 0 && region.intersects(r)) {
            PaintRow(p, i, r);
            if (i == current_row_ && hasFocus()) {
                p.save();
                p.setPen(QPen(focus_ring_, 1, Qt::DotLine));
                p.setBrush(Qt::NoBrush);
                p.drawRect(FocusRingRect(i, r));
                p.restore();
            }
        }
        y += h;
    }
    return y;
}

// Around the row, or just outside the control the keyboard is on.
QRect CPaintedList::FocusRingRect(int row, const QRect& r) const {
    if (current_control_ >= 0) {
        const std::vector<RowControl> controls = RowControls(row);
        if (current_control_ < int(controls.size()))
            return controls[size_t(current_control_)]
                .rect.translated(r.topLeft())
                .adjusted(-2, -2, 1, 1);
    }
    return r.adjusted(1, 1, -2, -2);
}

}  // namespace halvorin
