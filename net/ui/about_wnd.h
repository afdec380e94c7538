// CAboutWnd (window class "AboutWnd"): the small rounded pop-up with the
// program's icon, title, version block and legal notice. It opens centred
// on its parent; its top band moves it; its one button closes it.
#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QWidget>

namespace halvorin {

class CFlatToolButton;

class CAboutWnd : public QWidget {
    Q_OBJECT

  public:
    static constexpr const char* kWindowClass = "AboutWnd";
    static constexpr int kWidth = 360;
    static constexpr int kHeight = 270;
    static constexpr int kBandHeight = 26;
    static constexpr int kCloseCommand = 8;

    // A tool window over `parent`, centred on it; it deletes itself when closed.
    explicit CAboutWnd(QWidget* parent);

    CFlatToolButton* CloseButton() const { return close_; }
    QString VersionText() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;  // Escape closes it

  private:
    QFont band_font_, title_font_, version_font_, notice_font_;
    QColor border_, background_, band_top_, band_bottom_, text_;
    QIcon icon_;
    CFlatToolButton* close_ = nullptr;  // a child: Qt owns it
    QPoint move_from_;
    bool moving_by_hand_ = false;
};

}  // namespace halvorin
