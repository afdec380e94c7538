// CMainWnd: the top-level window of manager mode (window class "MainWnd").
//
// The left column holds the enclosure tree (CLeftPane) over the event list
// (CEventPane); the right side shows what the tree selects. On creation
// the window starts the manager's work: the hosts of "Domains", the poll
// driver, and this host's own agent, reached under this computer's name.
// The caption bar, the toolbars and the window's own splitters take their
// places as they are built.
#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "enclosure/model/domain_registry.h"
#include "shell/events/event_log.h"

class QToolButton;

namespace halvorin {

class CEventPane;
class CLeftPane;
class StandInRightPane;

struct ManagerSetup {
    // Null: the panes are shown but nothing is polled or connected.
    DomainRegistry* registry = nullptr;
    // The name under which this host's agent is reached (empty: none).
    std::u16string local_host;
    // Lets this computer's manager name through the local agent.
    std::function<void(const std::u16string& computer_name)> authorize_local;
    // Where the event history lives (empty: not kept).
    std::string history_directory = EventStateDirectory();
};

class CMainWnd : public QWidget {
    Q_OBJECT

  public:
    static constexpr const char* kWindowClass = "MainWnd";

    CMainWnd(const QString& title, const ManagerSetup& setup);
    ~CMainWnd() override;

    CLeftPane* LeftPane() const { return left_pane_; }
    CEventPane* EventPane() const { return event_pane_; }
    StandInRightPane* RightPane() const { return right_pane_; }

  signals:
    // A command for the application (252 agent mode, 57664 about).
    void Command(int id);
    // The operator closed the window: the program ends.
    void Closed();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void StartManager(const ManagerSetup& setup);

    QColor background_;
    CLeftPane* left_pane_ = nullptr;  // children: Qt owns them
    CEventPane* event_pane_ = nullptr;
    StandInRightPane* right_pane_ = nullptr;
    QToolButton* agent_mode_button_ = nullptr;
};

}  // namespace halvorin
