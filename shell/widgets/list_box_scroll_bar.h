// CListBoxSB: the flat bar on a list of rows of varying height that scrolls
// by whole rows (its top row). The list tells the bar when its rows or its
// top row changed; the bar sums the row heights itself.
#pragma once

#include "shell/widgets/flat_scroll_bar.h"

namespace halvorin {

// What the bar needs to know of the list it scrolls.
class FlatScrollList {
  public:
    virtual int RowCount() const = 0;
    virtual int RowHeight(int row) const = 0;
    virtual int TopRow() const = 0;
    virtual void SetTopRow(int row) = 0;
    // Room on the right for the bar: 0 or CFlatSB::kWidth.
    virtual void ReserveBarWidth(int width) = 0;
    virtual void WheelOnBar(QWheelEvent* event) = 0;

  protected:
    ~FlatScrollList() = default;
};

class CListBoxSB : public CFlatSB {
    Q_OBJECT

  public:
    CListBoxSB(QWidget* control, FlatScrollList& list);

    // The list's rows, their heights or its top row changed.
    void ContentChanged();
    // Steps the top row by one.
    void LineUp();
    void LineDown();

    int64_t content_height() const { return content_height_; }
    // The largest top row: from it on every row fits.
    int LastTopRow() const;

  protected:
    ThumbPlace Place() const override;
    void ScrollForDrag(int dy, bool at_end) override;
    void ReserveWidth(int width) override { list_.ReserveBarWidth(width); }
    void WheelOnBar(QWheelEvent* event) override { list_.WheelOnBar(event); }

  private:
    FlatScrollList& list_;
    int64_t content_height_ = 0;
    bool scrolling_ = false;  // the bar moves the list itself
};

}  // namespace halvorin
