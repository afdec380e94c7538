// CAgentWnd: the top-level window of agent mode (window class "AgentWnd"), a
// small rounded panel with the list of computers allowed to manage this
// host and who of them is connected. It lives hidden behind the
// notification-area icon; where the desktop has no notification area it is
// an ordinary small window instead, so the operator can always reach it.
#pragma once

#include <QColor>
#include <QFont>
#include <QWidget>
#include <array>
#include <optional>

class QSystemTrayIcon;

namespace halvorin {

class CAgentClientBar;
class CClientListBox;
class CFlatToolButton;

class CAgentWnd : public QWidget {
    Q_OBJECT

  public:
    static constexpr const char* kWindowClass = "AgentWnd";
    static constexpr int kWidth = 240;
    static constexpr int kHeight = 300;
    static constexpr int kManagerModeCommand = 253;
    static constexpr int kAboutCommand = 57664;
    static constexpr int kExitCommand = 57665;
    static constexpr int kShowCommand = 1;  // the tray menu's "show the window"
    static constexpr int kExitQuestion = 128;
    enum Button { kAddButton, kDeleteButton };

    // `title` names the window for the window system; the title band and
    // the icon's tool tip say "<product> Agent". `use_tray`: whether to live
    // behind a notification-area icon (the application passes
    // QSystemTrayIcon::isSystemTrayAvailable()); without one the window
    // opens at the bottom right of the work area.
    CAgentWnd(const QString& title, bool use_tray);
    ~CAgentWnd() override;

    bool HasTrayIcon() const { return tray_icon_ != nullptr; }
    QSystemTrayIcon* TrayIcon() const { return tray_icon_; }
    CAgentClientBar* ClientBar() const { return client_bar_; }
    CClientListBox* List() const;
    QRect ButtonRect(Button button) const;
    bool ButtonEnabled(Button button) const;
    CFlatToolButton* ToolButton(int index) const { return tool_buttons_.at(size_t(index)); }
    // Places the window at the bottom right of the work area (or centred on
    // a click left of there), raises and shows it.
    void ShowNearTray(QPoint click);
    void OnCommand(int command);

  signals:
    // A command for the application: 253 manager mode, 57664 about, 57665 exit.
    void Command(int id);
    // The window was closed (only without a notification-area icon, where
    // closing it ends the program).
    void Closed();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void CreateTrayIcon(const QString& title);
    QPoint CornerPlace(std::optional<QPoint> click) const;
    void LayOut();
    int TitleBandHeight() const;
    int ButtonRowHeight() const;
    int NoteHeight() const;
    int ButtonAt(QPoint at) const;
    void PaintButton(QPainter& p, Button button) const;
    void PaintNote(QPainter& p) const;

    QString title_;
    QFont title_font_, button_font_, note_font_;
    QColor band_top_, band_bottom_, band_line_, title_text_, border_, note_background_;
    QColor button_disabled_, button_enabled_, button_hot_;
    int hot_button_ = -1;
    // Where the title band was grabbed, while the window follows the pointer
    // itself (where the window system cannot move it).
    std::optional<QPoint> drag_offset_;
    CAgentClientBar* client_bar_;                     // a child
    std::array<CFlatToolButton*, 2> tool_buttons_{};  // children
    QSystemTrayIcon* tray_icon_ = nullptr;            // a child: Qt owns it
};

}  // namespace halvorin
