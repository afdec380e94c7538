#include "shell/widgets/flat_tool_button.h"

#include <QAccessible>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include "shell/theme/theme_color.h"
#include "shell/widgets/flat_tool_button_accessible.h"

namespace halvorin {

namespace {
constexpr int kPictureMargin = 4;  // around a picture, as a flat toolbar leaves it

QColor FocusRingColour() {
    return LoadThemeQColor(417, Rgb(0x43, 0xa0, 0xae));
}
}  // namespace

CFlatToolButton::CFlatToolButton(const CImageList& images, int index, int command, QWidget* parent,
                                 const CImageList& hot_images)
    : QWidget(parent),
      images_(images),
      hot_images_(hot_images),
      index_(index),
      command_(command),
      focus_ring_(FocusRingColour()) {
    InstallFlatToolButtonAccessibility();
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    resize(sizeHint());
}

CFlatToolButton::CFlatToolButton(const QString& text, const QFont& font, QColor colour,
                                 QSize padding, int command, QWidget* parent)
    : QWidget(parent),
      command_(command),
      text_(text),
      font_(font),
      text_colour_(colour),
      padding_(padding),
      focus_ring_(FocusRingColour()) {
    InstallFlatToolButtonAccessibility();
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    hot_plate_ = Qt::transparent;
    resize(sizeHint());
}

QSize CFlatToolButton::sizeHint() const {
    if (!text_.isNull()) {
        const QFontMetrics metrics(font_);
        return {metrics.horizontalAdvance(text_) + padding_.width(),
                metrics.height() + padding_.height()};
    }
    return {images_.cell_width() + 2 * kPictureMargin, images_.cell_height() + 2 * kPictureMargin};
}

void CFlatToolButton::SetToolTipText(const QString& text) {
    if (text == tool_tip_) return;
    tool_tip_ = text;
    if (text_.isEmpty() && QAccessible::isActive()) {
        QAccessibleEvent renamed(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&renamed);
    }
}

void CFlatToolButton::SetCommand(int command, int index) {
    command_ = command;
    index_ = index;
    update();
}

void CFlatToolButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (hot_ && hot_plate_.alpha() > 0) {
        p.save();
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(hot_plate_);
        p.drawRoundedRect(rect(), 3, 3);
        p.restore();
    }
    if (hasFocus()) {
        p.setPen(QPen(focus_ring_, 1, Qt::DotLine));
        p.setBrush(Qt::NoBrush);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    if (!text_.isNull()) {
        p.setFont(font_);
        p.setPen(text_colour_);
        p.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text_);
        return;
    }
    const CImageList& images = hot_ && !hot_images_.empty() ? hot_images_ : images_;
    images.Draw(p, index_,
                {(width() - images.cell_width()) / 2, (height() - images.cell_height()) / 2});
}

void CFlatToolButton::enterEvent(QEnterEvent*) {
    hot_ = true;
    update();
}

void CFlatToolButton::leaveEvent(QEvent*) {
    hot_ = false;
    update();
}

// The press is the button's: passed on, it would reach the caption bar
// under it, whose press starts a window move, and the window manager would
// then take the next click as the end of that move.
void CFlatToolButton::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void CFlatToolButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit Clicked(command_);
}

void CFlatToolButton::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Space:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            emit Clicked(command_);
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

void CFlatToolButton::focusInEvent(QFocusEvent* event) {
    update();
    QWidget::focusInEvent(event);
}

void CFlatToolButton::focusOutEvent(QFocusEvent* event) {
    update();
    QWidget::focusOutEvent(event);
}

bool CFlatToolButton::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (tool_tip_.isEmpty()) {
            QToolTip::hideText();
        } else {
            QToolTip::showText(help->globalPos(), tool_tip_, this, rect());
        }
        return true;
    }
    return QWidget::event(event);
}

}  // namespace halvorin
