// CFlatToolButton: one button of a flat toolbar: a picture of an image list
// (or a text) with no frame, a light plate under the pointer, the hand
// cursor, and a tool tip. A click sends its command; so do Space and Enter
// once Tab has brought the focus (and its ring) to it. Screen readers see a
// push button named by its text or tool tip, with a press action.
#pragma once

#include <QColor>
#include <QFont>
#include <QWidget>

#include "shell/theme/image_list.h"

namespace halvorin {

class CFlatToolButton : public QWidget {
    Q_OBJECT

  public:
    // A picture button: image `index` of `images`, drawn from `hot_images`
    // under the pointer when that list is not empty.
    CFlatToolButton(const CImageList& images, int index, int command, QWidget* parent,
                    const CImageList& hot_images = {});
    // A text button: `padding` around the text (horizontal, vertical).
    CFlatToolButton(const QString& text, const QFont& font, QColor colour, QSize padding,
                    int command, QWidget* parent);

    void SetCommand(int command, int index);
    // A button named by its tip (the caption's Maximize / Restore Down) is
    // renamed with it, and screen readers are told.
    void SetToolTipText(const QString& text);
    void SetHotPlate(QColor colour) { hot_plate_ = colour; }
    int command() const { return command_; }
    int index() const { return index_; }
    bool hot() const { return hot_; }
    QString toolTipText() const { return tool_tip_; }
    QString text() const { return text_; }
    // What a screen reader calls it: the text, or else the tool tip.
    QString AccessibleName() const { return text_.isEmpty() ? tool_tip_ : text_; }

    QSize sizeHint() const override;

  signals:
    void Clicked(int command);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool event(QEvent* event) override;

  private:
    CImageList images_, hot_images_;
    int index_ = 0;
    int command_ = 0;
    QString text_, tool_tip_;
    QFont font_;
    QColor text_colour_;
    QSize padding_;
    QColor hot_plate_ = QColor(0, 0, 0, 24);
    QColor focus_ring_;
    bool hot_ = false;
};

}  // namespace halvorin
