#include "shell/widgets/pane_tool_bar.h"

#include <QPainter>
#include <QToolTip>

#include "shell/theme/shared_look.h"
#include "shell/theme/string_resources.h"
#include "shell/theme/theme_font.h"
#include "shell/widgets/flat_tool_button.h"

namespace halvorin {

namespace {
constexpr int kCaptionFont = 970;
constexpr int kNormalButtons = 4;  // shared image lists
constexpr int kHotButtons = 3;
}  // namespace

CPaneToolBar::CPaneToolBar(const Setup& setup, QWidget* parent) : QWidget(parent), setup_(setup) {
    setObjectName(setup.window_class);
    setAttribute(Qt::WA_OpaquePaintEvent);
    caption_ = LoadQString(setup.caption_id);
    caption_font_ = LoadAppFont(kCaptionFont, FontSize(16, 700));
    background_ = ToQColor(setup.background);
    caption_colour_ = ToQColor(setup.caption_colour);
    button_ = new CFlatToolButton(SharedImageList(kNormalButtons), 0, setup.first_command, this,
                                  SharedImageList(kHotButtons));
    button_->SetHotPlate(Qt::transparent);  // the hot pictures carry their own plate
    button_->resize(kButtonSize, kButtonSize);
    ShowCommand(setup.first_command);
    connect(button_, &CFlatToolButton::Clicked, this, &CPaneToolBar::Press);
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

int CPaneToolBar::CurrentCommand() const {
    return button_->command();
}

QRect CPaneToolBar::ButtonRect() const {
    return button_->geometry();
}

QString CPaneToolBar::ButtonToolTip() const {
    return button_->toolTipText();
}

void CPaneToolBar::ShowCommand(int command) {
    button_->SetCommand(command, command == setup_.first_command ? 0 : 1);
    button_->SetToolTipText(LoadCommandTip(command));
}

void CPaneToolBar::Press() {
    const int command = CurrentCommand();
    ShowCommand(command == setup_.first_command ? setup_.second_command : setup_.first_command);
    if (button_->hot()) QToolTip::showText(QCursor::pos(), ButtonToolTip(), button_);
    emit Command(command);
}

void CPaneToolBar::Reset() {
    ShowCommand(setup_.first_command);
}

void CPaneToolBar::resizeEvent(QResizeEvent*) {
    button_->move(width() - kButtonRight - kButtonSize, (height() - kButtonSize) / 2);
}

void CPaneToolBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), background_);
    p.setFont(caption_font_);
    p.setPen(caption_colour_);
    p.drawText(QRect(kCaptionLeft, 0, std::max(0, button_->x() - kCaptionLeft), height()),
               Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, caption_);
}

}  // namespace halvorin
