// CFlatSB: the flat vertical scroll bar of the owner-drawn lists and the
// tree: a 10-px strip on the control's right edge with a plain track and a
// rounded thumb, shown only when the content does not fit. It is a child
// widget of the control; the control gives it room (ReserveWidth) while it
// is shown and keeps the platform's own bar hidden. CListBoxSB and
// CTreeCtrlSB tell it how their control scrolls.
#pragma once

#include <QColor>
#include <QWidget>
#include <cstdint>

namespace halvorin {

// Where the thumb sits in a track of `track` px. Hidden when the thumb
// would fill the track or the track has no length.
struct ThumbPlace {
    bool shown = false;
    int top = 0;
    int height = 0;
};

// `content` and `page` in any unit (px for lists, rows for trees);
// `position` and `maximum` are the control's scroll position and its largest
// value; `at_end` when the last page is showing.
ThumbPlace PlaceThumb(int track, int64_t thumb_numerator, int64_t content, int position,
                      int maximum, bool at_end);

class CFlatSB : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kWidth = 10;
    static constexpr int kMinThumb = 20;

    enum Zone { kOutside = 0, kTrack = 1, kThumb = 4 };

    struct Colours {
        QColor track, inner, line, thumb, hot_thumb;
    };

    // The bar takes the control's own scroll bar colours until the owner
    // sets its own.
    explicit CFlatSB(QWidget* control);

    void SetColours(const Colours& colours);
    // Decides whether the bar shows and where the thumb is; true when shown.
    bool Recompute();

    bool shown() const { return shown_; }
    QRect thumb() const { return thumb_; }
    Zone zone() const { return zone_; }
    bool dragging() const { return dragging_; }

  protected:
    // The place the thumb should take now, from the control's scroll state.
    virtual ThumbPlace Place() const = 0;
    // The thumb moved by `dy` px during a drag (it already sits at its new
    // place); scroll the control to match. `at_end`: it touches either end.
    virtual void ScrollForDrag(int dy, bool at_end) = 0;
    // Tells the control how much room the bar needs on the right (0 or kWidth).
    virtual void ReserveWidth(int width) = 0;
    virtual void WheelOnBar(QWheelEvent* event) = 0;

    int TrackLength() const;
    int32_t drag_remainder_ = 0;  // a fraction of a scroll step, in 1/32 units

    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void PlaceOnControl();
    void SetZone(Zone zone);
    Zone ZoneAt(QPoint at) const;

    QWidget* const control_;
    Colours colours_;
    QRect thumb_;
    Zone zone_ = kOutside;
    bool dragging_ = false;
    int drag_y_ = 0;
    bool shown_ = false;
};

}  // namespace halvorin
