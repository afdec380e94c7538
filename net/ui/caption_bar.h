// CCaptionBar: the title band of the borderless main window: the program's
// title on a gradient and three flat buttons (minimise, maximise or
// restore, close). Pressing the band moves the window through the window
// system; a double click maximises or restores it. Close asks first.
#pragma once

#include <QColor>
#include <QFont>
#include <QWidget>

#include "shell/theme/image_list.h"

namespace halvorin {

class CFlatToolButton;

class CCaptionBar : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kMinimize = 257;
    static constexpr int kMaximize = 258;
    static constexpr int kRestore = 259;
    static constexpr int kClose = 260;
    static constexpr int kExitQuestion = 128;
    enum ButtonImage { kCloseImage = 0, kMinimizeImage = 1, kMaximizeImage = 2, kRestoreImage = 3 };

    explicit CCaptionBar(QWidget* parent);

    // Commands 257 to 260 on the bar's window; false for any other.
    bool OnCommand(int id);
    QString Title() const { return title_; }
    // The buttons, left to right: minimise, maximise or restore, close.
    CFlatToolButton* Button(int position) const { return buttons_[position]; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void FollowWindowState();
    void MaximizeByHand();
    void RestoreByHand();
    bool ShowsMaximized() const;

    QString title_;
    QFont title_font_;
    QColor title_colour_, top_, bottom_, line_;
    CImageList images_;
    CFlatToolButton* buttons_[3] = {};  // children: Qt owns them
    QPoint manual_move_from_;           // where a move started when the window system does not move
    bool moving_by_hand_ = false;
    QRect normal_geometry_;           // to restore to after maximising by hand
    bool maximized_by_hand_ = false;  // there was no window manager to do it
};

}  // namespace halvorin
