// CMainWnd: the top-level window of manager mode (window class "MainWnd").
//
// A borderless window: its own caption bar and main toolbar across the top,
// then three panes divided by two 2-px splitters: the enclosure tree (top
// left), the event list (bottom left) and the element view (right). The
// window finds its edges, corners, caption and splitters itself; moving and
// resizing go to the window system (startSystemMove/startSystemResize), the
// splitters it drags itself with a bar drawn over the panes.
//
// On creation it starts the manager's work: the hosts of "Domains", the
// poll driver, and this host's own agent, reached under this computer's
// name (which that agent is told to let through).
#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "base/clock.h"
#include "enclosure/model/domain_registry.h"
#include "shell/events/event_log.h"

namespace halvorin {

class CCaptionBar;
class CEventPane;
class CLeftPane;
class CMainToolBar;
class CRightPane;

struct ManagerSetup {
    // Null: the panes are shown but nothing is polled or connected.
    DomainRegistry* registry = nullptr;
    // The name under which this host's agent is reached (empty: none).
    std::u16string local_host;
    // Lets this computer's manager name through the local agent.
    std::function<void(const std::u16string& computer_name)> authorize_local;
    // Where the event history lives (empty: not kept).
    std::string history_directory = EventStateDirectory();
    // What the event list stamps its events with.
    Clock* clock = &SystemClock();
};

class CMainWnd : public QWidget {
    Q_OBJECT

  public:
    static constexpr const char* kWindowClass = "MainWnd";
    static constexpr int kSplitter = 2;
    // Hit-test codes, as the window system knows them.
    enum HitCode {
        kHitClient = 1,
        kHitCaption = 2,
        kHitLeft = 10,
        kHitRight = 11,
        kHitTop = 12,
        kHitTopLeft = 13,
        kHitTopRight = 14,
        kHitBottom = 15,
        kHitBottomLeft = 16,
        kHitBottomRight = 17,
    };
    enum DragKind { kNoDrag = 0, kVerticalSplitter = 101, kHorizontalSplitter = 102 };

    CMainWnd(const QString& title, const ManagerSetup& setup);
    ~CMainWnd() override;

    // Where a window of this size opens on a work area of `work_area`.
    static QRect InitialPlacement(const QRect& work_area);

    // The hit-test code of a point in window coordinates, and what a press
    // there drags (0, an edge code 10 to 17, or a splitter 101/102).
    int HitTest(QPoint at) const;
    int DragKindAt(QPoint at) const;

    int SplitterX() const { return splitter_x_; }
    int SplitterY() const { return splitter_y_; }
    // Moves a splitter as a drag that ends at `position` would, within its bounds.
    void MoveVerticalSplitter(int x);
    void MoveHorizontalSplitter(int y);
    // The rectangle below the bars that the panes share.
    QRect PaneArea() const;

    // Commands of the bars and panes; false when none takes it.
    bool OnCommand(int id);

    CCaptionBar* CaptionBar() const { return caption_bar_; }
    CMainToolBar* MainToolBar() const { return main_tool_bar_; }
    CLeftPane* LeftPane() const { return left_pane_; }
    CEventPane* EventPane() const { return event_pane_; }
    CRightPane* RightPane() const { return right_pane_; }
    // A modal action waits or an upgrade runs: closing would cut it off.
    bool WorkWouldBeCut() const;

  signals:
    // A command for the application (252 agent mode, 57664 about).
    void Command(int id);
    // The operator closed the window: the program ends.
    void Closed();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void StartManager(const ManagerSetup& setup);
    void LayOutPanes();
    void OrderTabStops();
    void SetCursorFor(int drag_kind);
    void ShowDragBar(int drag_kind, QPoint at);

    DomainRegistry* registry_ = nullptr;
    QColor background_, border_;
    CCaptionBar* caption_bar_ = nullptr;  // children: Qt owns them
    CMainToolBar* main_tool_bar_ = nullptr;
    CLeftPane* left_pane_ = nullptr;
    CEventPane* event_pane_ = nullptr;
    CRightPane* right_pane_ = nullptr;
    QWidget* drag_bar_ = nullptr;  // the splitter's feedback while it is dragged

    int splitter_x_ = 0;
    int splitter_y_ = 0;
    int last_height_ = 0;
    bool rescale_splitter_y_ = false;  // the next size change is a maximise or restore
    int drag_kind_ = kNoDrag;
    int drag_offset_ = 0;
    QRect resize_from_;  // the geometry a resize by hand started from
    QPoint drag_start_;
};

}  // namespace halvorin
