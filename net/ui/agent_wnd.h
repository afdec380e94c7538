// CAgentWnd: the top-level window of agent mode (window class "AgentWnd"),
// created hidden and reached through the notification-area icon.
//
// For now it offers only the way back to manager mode from the icon's menu;
// the list of authorised clients and their connections comes next.
#pragma once

#include <QWidget>

class QSystemTrayIcon;

namespace halvorin {

class CAgentWnd : public QWidget {
    Q_OBJECT

  public:
    static constexpr const char* kWindowClass = "AgentWnd";

    explicit CAgentWnd(const QString& title);
    ~CAgentWnd() override;

  signals:
    // A command for the application (253 manager mode).
    void Command(int id);

  private:
    QSystemTrayIcon* tray_icon_ = nullptr;  // a child: Qt owns it
};

}  // namespace halvorin
