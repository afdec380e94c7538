// CEventList: the owner-drawn list of events in the lower left pane. Live
// events (status changes, operator actions) are appended at the bottom;
// records handed over from elsewhere (other threads, the history of earlier
// runs) are inserted at the top, above the empty spacer row the list starts
// with. It holds at most kMaxRows rows: a full list refuses insertions at
// the top, and appends push the oldest rows out at the next trim (at most
// every 2 s).
//
// A burst of insertions at the top suspends painting; the next append, or
// the one-second tick once a second has passed, shows the result at once.
//
// In editing mode (command 251 until 247) each row has an arm zone on its
// left; the armed row shows a delete zone on its right whose click deletes
// the event. Everything runs on the user-interface thread.
#pragma once

#include <QFont>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <memory>

#include "base/clock.h"
#include "shell/events/event_item.h"
#include "shell/events/event_time.h"
#include "shell/theme/image_list.h"
#include "shell/widgets/painted_list.h"

namespace halvorin {

class CEventList : public CPaintedList {
    Q_OBJECT

  public:
    static constexpr int kMaxRows = 10000;
    static constexpr int kEditCommand = 251;
    static constexpr int kExitEditCommand = 247;
    static constexpr int64_t kTrimSeconds = 2;
    static constexpr int64_t kResumeMs = 1000;
    // Row geometry.
    static constexpr int kSideInset = 22;
    static constexpr int kArmedRightInset = 42;
    static constexpr int kEditingIndent = 20;
    static constexpr int kZoneWidth = 19;
    static constexpr int kIconGap = 6;

    enum class Position { kBottom, kTop };
    enum Zone { kNoZone = 0, kArmZone = 2, kDeleteZone = 3 };

    explicit CEventList(Clock& clock = SystemClock(), QWidget* parent = nullptr);
    ~CEventList() override;

    // Formats message `message_id` with `arguments` (its %s placeholders),
    // upper-cases the first character and adds the row. Returns its index,
    // or -1 when a full list refuses an insertion at the top.
    int AddEvent(int64_t time, int level, const QString& source, int message_id,
                 const QStringList& arguments, Position position);

    // Commands 251 (editing on) and 247 (off); false for any other.
    bool OnCommand(int id);
    bool Editing() const { return editing_; }
    int ArmedRow() const { return armed_row_; }
    int HotRow() const { return hot_row_; }
    bool RedrawSuspended() const { return redraw_suspended_; }

    // The event of a row; null for the spacer row and out of range.
    const CEventItem* Item(int row) const;
    int ItemRowHeight() const { return item_row_height_; }
    // Events added below the screen while the operator looked at older ones;
    // the marker that says so ("N new events") scrolls to them when clicked.
    int UnseenEvents() const { return unseen_events_; }
    QRect NewEventsMarker() const;  // empty when there is none
    Zone ZoneAt(QPoint at, int* row = nullptr) const;
    QRect ArmZone(int row) const;
    QRect DeleteZone(int row) const;
    // What the row shows as its time, as seen now.
    QString TimeText(int64_t time) const;
    // Shows the last rows now (painting resumes if it was suspended).
    void ScrollToEnd();
    // The one-second tick: the trim clock and the end of a suspension.
    void OneSecondTick();

    int RowCount() const override { return int(rows_.size()); }
    int RowHeight(int row) const override;
    void SetTopRow(int row) override;
    // Source, time and message, for screen readers.
    QString RowText(int row) const override;
    // In editing mode Enter and Space arm the row (or disarm it), as a click
    // on its arm zone does; Delete then deletes it.
    bool RowHasAction(int row) const override { return editing_ && Item(row); }
    void ActivateRow(int row) override;

  signals:
    // A row was added (any position).
    void EventAdded(const CEventItem& item);
    // The operator deleted a row; it is gone once this returns.
    void EventDeleted(const CEventItem& item);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void PaintRow(QPainter& p, int row, const QRect& r) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QRect ContentRect(int row, const QRect& r) const;
    void SuspendRedraw();
    void ResumeRedraw();
    void Trim(bool scroll_to_end);
    void DeleteRow(int row);
    void SetArmedRow(int row);
    void SetHot(int row, Zone zone);
    void RepaintRow(int row);
    void ContentChanged();
    // Whether the newest row is on the screen, or nearly: then new events
    // scroll into view as they come.
    bool FollowingNewest() const;
    void PaintNewEventsMarker(QPainter& p);

    Clock& clock_;
    std::deque<std::unique_ptr<CEventItem>> rows_;  // null: the spacer row
    bool editing_ = false;
    int armed_row_ = -1;
    int hot_row_ = -1;
    Zone hot_zone_ = kNoZone;
    bool redraw_suspended_ = false;
    int64_t suspended_at_ms_ = 0;
    int64_t last_trim_time_ = 0;
    bool content_change_queued_ = false;
    bool follow_newest_ = false;  // the queued content change scrolls to the end
    int unseen_events_ = 0;       // added below the screen since the operator looked
    mutable EventTimeFormat time_format_;

    QColor background_, text_colour_, separator_;
    QFont source_font_, time_font_, message_font_;
    CImageList level_icons_, editing_icons_;
    QColor delete_zone_, delete_zone_hot_;
    int source_line_height_ = 0;
    int item_row_height_ = 0;
    QTimer tick_;
};

}  // namespace halvorin
