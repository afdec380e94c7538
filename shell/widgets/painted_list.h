// CPaintedList: what the owner-drawn lists share. Rows of varying height
// scroll by whole rows under a flat bar. One row is the keyboard's: the
// arrows, Page Up/Down, Home and End move it, Enter and Space act on it, and
// it wears a focus ring while the list has the focus. In a row that paints
// controls (buttons, switches, cells) Left and Right move the ring from the
// row to each control and back, and Enter and Space press the one it is on.
// The wheel scrolls, and
// screen readers see a list whose items are the rows, each with its text and,
// where it has one, a press action.
//
// A subclass owns its rows: it says how many there are and how tall each is,
// paints one, says what it reads as and what acting on it does.
#pragma once

#include <QAccessible>
#include <QColor>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

#include "shell/widgets/list_box_scroll_bar.h"

class QPainter;

namespace halvorin {

// A control painted inside a row (a button, a switch, a cell), as the
// keyboard and screen readers reach it.
struct RowControl {
    uint32_t id = 0;  // what PressRowControl is given back
    QAccessible::Role role = QAccessible::Button;
    QString name;
    QRect rect;  // in the row's own coordinates
    bool enabled = true;
    std::optional<bool> checked;  // for switches and cells: on or off
    QString description;          // why it cannot be pressed, or what it does
};

class CPaintedList : public QWidget, public FlatScrollList {
    Q_OBJECT

  public:
    explicit CPaintedList(QWidget* parent = nullptr);
    ~CPaintedList() override;

    int TopRow() const final { return top_row_; }
    void SetTopRow(int row) override;
    QRect RowRect(int row) const;  // empty when the row is not on the screen
    int RowAt(QPoint at) const;    // -1 outside every row
    int ListWidth() const;         // the rows' width: the list's less the bar's
    CListBoxSB& ScrollBar() { return *scroll_bar_; }
    const CListBoxSB& ScrollBar() const { return *scroll_bar_; }

    // The keyboard's row (-1: none yet); setting it scrolls it into view.
    int CurrentRow() const { return current_row_; }
    void SetCurrentRow(int row);
    // The control of the keyboard's row the ring is on (-1: the row itself).
    int CurrentControl() const { return current_control_; }
    void SetCurrentControl(int index);
    void EnsureVisible(int row);

    // What a row reads as to screen readers.
    virtual QString RowText(int row) const = 0;
    virtual QString RowDescription(int) const { return {}; }
    virtual void DescribeRowState(int, QAccessible::State&) const {}
    // Enter, Space and a screen reader's press act on a row that has an action.
    virtual bool RowHasAction(int) const { return false; }
    virtual void ActivateRow(int) {}
    // The controls a row paints, each pressed through PressRowControl.
    virtual std::vector<RowControl> RowControls(int) const { return {}; }
    virtual void PressRowControl(int, uint32_t) {}

  protected:
    void SetWheelRows(int rows) { wheel_rows_ = rows; }
    void SetFocusRingColour(const QColor& colour) { focus_ring_ = colour; }

    // Rows came or went: the view and the keyboard row stay on the rows they
    // were on (a removed keyboard row passes to the row above the gap).
    void RowsInserted(int at, int count);
    void RowsRemoved(int from, int count);
    // The rows' count or heights changed: the bar follows and the view stays
    // within the rows. PlaceTopRow sets the top row ahead of it.
    void RowsChanged();
    void PlaceTopRow(int row) { top_row_ = row; }
    // New rows altogether: the view starts at the top with no keyboard row.
    void ResetPlace() { top_row_ = 0, current_row_ = -1, current_control_ = -1; }

    // Paints every row on the screen that `region` touches through PaintRow,
    // the focus ring last; returns the y below the last row.
    int PaintRows(QPainter& p, const QRegion& region);
    virtual void PaintRow(QPainter& p, int row, const QRect& r) = 0;
    // After the keyboard moved the current row (a subclass may show a tip).
    virtual void KeyboardMoved(int) {}

    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void ReserveBarWidth(int width) override;
    void WheelOnBar(QWheelEvent* event) override { wheelEvent(event); }
    // The bar reads the rows: a subclass's destructor drops it first.
    void DropScrollBar() { scroll_bar_.reset(); }

  private:
    int StepRow(int from, int direction) const;
    bool MoveToControl(int direction);
    bool PressCurrentControl();
    QRect FocusRingRect(int row, const QRect& r) const;
    int PageRows() const;
    void AnnounceFocus();
    void AnnounceControlFocus();
    void AnnounceRows(QAccessible::Event kind, int at, int count);
    static constexpr int kAnnouncedRows = 64;

    std::unique_ptr<CListBoxSB> scroll_bar_;
    int top_row_ = 0;
    int current_row_ = -1;
    int current_control_ = -1;
    int bar_width_ = 0;
    int wheel_rows_ = 1;
    QColor focus_ring_;
};

}  // namespace halvorin
