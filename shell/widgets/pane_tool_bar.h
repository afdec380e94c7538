// CPaneToolBar: the title bar of a pane in the left column: a caption on
// the left and one flat 32 x 32 toggle button 12 px from the right edge.
// The button alternates between two commands (an "editing" command and
// "exit editing"), showing picture 0 or 1 of shared image list 4, or of
// list 3 under the pointer. A press sends the current command and switches
// to the other one. CEventToolBar and CLeftToolBar are its two uses.
#pragma once

#include <QFont>
#include <QWidget>

#include "shell/theme/theme_color.h"

namespace halvorin {

class CFlatToolButton;

class CPaneToolBar : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kButtonSize = 32;
    static constexpr int kCaptionLeft = 12;
    static constexpr int kButtonRight = 12;

    struct Setup {
        const char* window_class;
        int caption_id;  // string id of the caption
        ColorRef background;
        ColorRef caption_colour;
        int first_command;   // shown first, with picture 0
        int second_command;  // after a press, with picture 1
    };

    CPaneToolBar(const Setup& setup, QWidget* parent);

    int CurrentCommand() const;
    // As a click on the button: sends the current command, then toggles.
    void Press();
    // Back to the first command without sending anything.
    void Reset();

    CFlatToolButton* Button() const { return button_; }
    QRect ButtonRect() const;
    QString ButtonToolTip() const;
    QString Caption() const { return caption_; }
    // Caption + button strip + 32 px: the narrowest the pane may become.
    int MinimumPaneWidth() const;

    QSize sizeHint() const override;

  signals:
    void Command(int id);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void ShowCommand(int command);

    const Setup setup_;
    QString caption_;
    QFont caption_font_;
    QColor background_, caption_colour_;
    CFlatToolButton* button_ = nullptr;  // a child: Qt owns it
};

}  // namespace halvorin
