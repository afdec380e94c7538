// CMainWnd: the top-level window of manager mode (window class "MainWnd").
//
// For now it shows the welcome picture and text and offers the change to
// agent mode; the caption bar, toolbars, panes, tree, event list and
// element views take its place as they are built.
#pragma once

#include <QWidget>

#include "shell/theme/image_list.h"
#include "shell/theme/theme_color.h"

class QToolButton;

namespace halvorin {

class CMainWnd : public QWidget {
    Q_OBJECT

  public:
    static constexpr const char* kWindowClass = "MainWnd";

    explicit CMainWnd(const QString& title);

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
    ColorRef background_ = 0;
    ColorRef welcome_background_ = 0;
    ColorRef welcome_text_ = 0;
    QFont welcome_font_;
    QImage welcome_picture_;
    QToolButton* agent_mode_button_ = nullptr;  // a child: Qt owns it
};

}  // namespace halvorin
