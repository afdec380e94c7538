// CRightToolBar: the title bar of the right pane: "host > enclosure" (the
// ">" drawn as a separator picture) or "Dashboard", and the quick-jump
// button (command 250) while an enclosure is shown.
#pragma once

#include <QColor>
#include <QFont>
#include <QWidget>

namespace halvorin {

class CFlatToolButton;

class CRightToolBar : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kHeight = 44;
    static constexpr int kQuickJumpCommand = 250;

    explicit CRightToolBar(QWidget* parent);

    void SetTitle(const QString& title);
    QString Title() const { return title_; }
    void ShowQuickJump(bool shown);
    CFlatToolButton* QuickJumpButton() const { return quick_jump_; }

  signals:
    void Command(int id);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QString title_;
    QFont font_;
    QColor top_, bottom_, text_, line_;
    CFlatToolButton* quick_jump_ = nullptr;  // a child: Qt owns it
};

}  // namespace halvorin
