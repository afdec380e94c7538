// CMessageBox: the program's own modal question and notice box, drawn in the
// program's theme. A caller constructs one, calls ShowMessageBox once and
// destroys it; the box is a window only during that call.
#pragma once

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>

#include "shell/theme/image_list.h"
#include "shell/theme/theme_color.h"

class QEventLoop;
class QToolButton;

namespace halvorin {

class CMessageBox : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kQuestion = 0;        // "Yes" and "No"
    static constexpr int kNotice = 1;          // "Close"
    static constexpr int kQuestionCancel = 2;  // "Yes", "No" and "Cancel"
    static constexpr int kResultCancel = 2;
    static constexpr int kResultYes = 6;
    static constexpr int kResultNo = 7;
    static constexpr int kResultClose = 8;
    static constexpr int kCloseCommand = 8;
    static constexpr int kTitleBandHeight = 26;
    static constexpr int kIconSize = 30;

    CMessageBox();
    ~CMessageBox() override;

    // Disables the application window, shows the box over it and waits for
    // the answer: 6 Yes, 7 No, 8 Close, 2 Cancel. Enter gives the first
    // button's answer. Escape, the title band's close button, a close by the
    // window manager or the application window going away give Cancel where
    // the box offers it, else No.
    int ShowMessageBox(int kind, int text_id);

    // Geometry in the box's coordinates, valid while it is shown; buttons
    // are counted from the right.
    QRect FirstButton() const { return ButtonRect(0); }
    QRect SecondButton() const { return ButtonRect(1); }
    QRect ThirdButton() const { return ButtonRect(2); }
    QRect HotRect() const { return hot_; }
    QToolButton* CloseButton() const { return close_button_; }
    // The painted buttons, counted from the right, for screen readers.
    int ButtonCount() const { return int(buttons_.size()); }
    QString Text() const { return text_; }
    QString ButtonText(int index) const;
    QRect ButtonPlace(int index) const { return ButtonRect(size_t(index)); }
    // Ends the box with the button's answer, as a click on it would.
    void PressButton(int index);

  signals:
    // Emitted once the box is shown and waiting (tests drive it from here).
    void Waiting();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    bool Create(int kind, int text_id);
    void CreateResources();
    void LayOut();
    void CreateCloseButton();
    struct Button {
        QRect rect;
        QString text;
        int result = kResultNo;
    };
    QRect ButtonRect(size_t index) const;
    const Button* ButtonAt(QPoint point) const;
    int DismissResult() const;
    void SetHot(QRect rect);
    void PaintButton(QPainter& painter, QRect rect, const QString& text) const;
    void End(int result);

    int kind_ = kQuestion;
    QString text_;
    std::vector<Button> buttons_;
    QRect hot_;
    QRect text_rect_;
    QFont title_font_;
    QFont text_font_;
    ColorRef background_ = 0;
    ColorRef band_top_ = 0;
    ColorRef band_bottom_ = 0;
    ColorRef frame_ = 0;
    ColorRef title_colour_ = 0;
    ColorRef button_ = 0;
    ColorRef hot_button_ = 0;
    ColorRef button_outline_ = 0;
    CImageList close_images_;
    QToolButton* close_button_ = nullptr;  // a child: Qt owns it
    QEventLoop* loop_ = nullptr;           // the running modal loop, on the stack
    int result_ = kResultNo;
    bool dragging_ = false;
    QPoint drag_offset_;
};

}  // namespace halvorin
