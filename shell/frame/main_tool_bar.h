// CMainToolBar: the band under the caption bar with the logo in the middle
// and three text buttons on the right: Dashboard (254), Agent Mode (252)
// and About (57664).
#pragma once

#include <QColor>
#include <QFont>
#include <QWidget>

#include "shell/theme/image_list.h"

namespace halvorin {

class CFlatToolButton;

class CMainToolBar : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kHeight = 77;
    static constexpr int kDashboardCommand = 254;
    static constexpr int kAgentModeCommand = 252;
    static constexpr int kAboutCommand = 57664;

    explicit CMainToolBar(QWidget* parent);

    CFlatToolButton* Button(int position) const { return buttons_[position]; }

  signals:
    void Command(int id);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QColor top_, bottom_, line_;
    QFont font_;
    CImageList logo_;
    CFlatToolButton* buttons_[3] = {};  // children: Qt owns them
};

}  // namespace halvorin
