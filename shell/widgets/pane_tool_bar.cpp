#include "shell/widgets/pane_tool_bar.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include "shell/theme/shared_look.h"
#include "shell/theme/string_resources.h"
#include "shell/theme/theme_font.h"

namespace halvorin {

namespace {
constexpr int kCaptionFont = 970;
constexpr int kNormalButtons = 4;  // shared image lists
constexpr int kHotButtons = 3;
}  // namespace

CPaneToolBar::CPaneToolBar(const Setup& setup, QWidget* parent) : QWidget(parent), setup_(setup) {
    setObjectName(setup.window_class);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    caption_ = LoadQString(setup.caption_id);
    caption_font_ = LoadAppFont(kCaptionFont, FontSize(16, 700));
    background_ = ToQColor(setup.background);
    caption_colour_ = ToQColor(setup.caption_colour);
    setFixedHeight(sizeHint().height());
}

QSize CPaneToolBar::sizeHint() const {
    const int caption_height = QFontMetrics(caption_font_).height();
    return {MinimumPaneWidth(), std::max(kButtonSize, caption_height + 41)};
}

int CPaneToolBar::MinimumPaneWidth() const {
    return QFontMetrics(caption_font_).horizontalAdvance(caption_) + kButtonSize + kButtonRight +
           32;
}

QRect CPaneToolBar::ButtonRect() const {
    return {width() - kButtonRight - kButtonSize, (height() - kButtonSize) / 2, kButtonSize,
            kButtonSize};
}

QString CPaneToolBar::ButtonToolTip() const {
    // A command's text is "prompt\ntool tip".
    const QString text = LoadQString(CurrentCommand());
    const qsizetype line_feed = text.indexOf('\n');
    return line_feed < 0 ? text : text.mid(line_feed + 1);
}

void CPaneToolBar::Press() {
    const int command = CurrentCommand();
    pressed_ = !pressed_;
    update(ButtonRect());
    if (hot_) QToolTip::showText(QCursor::pos(), ButtonToolTip(), this, ButtonRect());
    emit Command(command);
}

void CPaneToolBar::Reset() {
    if (!pressed_) return;
    pressed_ = false;
    update(ButtonRect());
}

void CPaneToolBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), background_);
    p.setFont(caption_font_);
    p.setPen(caption_colour_);
    const QRect button = ButtonRect();
    p.drawText(QRect(kCaptionLeft, 0, std::max(0, button.left() - kCaptionLeft), height()),
               Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, caption_);
    const CImageList& pictures = SharedImageList(hot_ ? kHotButtons : kNormalButtons);
    const QPoint at(button.left() + (kButtonSize - pictures.cell_width()) / 2,
                    button.top() + (kButtonSize - pictures.cell_height()) / 2);
    pictures.Draw(p, pressed_ ? 1 : 0, at);
}

void CPaneToolBar::SetHot(bool hot) {
    if (hot == hot_) return;
    hot_ = hot;
    setCursor(hot ? Qt::PointingHandCursor : Qt::ArrowCursor);
    update(ButtonRect());
}

void CPaneToolBar::mouseMoveEvent(QMouseEvent* event) {
    SetHot(ButtonRect().contains(event->position().toPoint()));
}

void CPaneToolBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && ButtonRect().contains(event->position().toPoint()))
        Press();
}

void CPaneToolBar::leaveEvent(QEvent*) {
    SetHot(false);
}

bool CPaneToolBar::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (ButtonRect().contains(help->pos())) {
            QToolTip::showText(help->globalPos(), ButtonToolTip(), this, ButtonRect());
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return QWidget::event(event);
}

}  // namespace halvorin
