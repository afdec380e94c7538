#include "shell/frame/right_tool_bar.h"

#include <QPainter>

#include "shell/theme/shared_look.h"
#include "shell/theme/string_resources.h"
#include "shell/theme/theme_color.h"
#include "shell/theme/theme_font.h"
#include "shell/widgets/flat_tool_button.h"
#include "shell/widgets/gradient_band.h"

namespace halvorin {

namespace {
constexpr int kQuickJumpImage = 3;  // of shared image lists 4 and 3
constexpr int kSeparatorImage = 3;  // of shared image list 2
constexpr int kTitleLeft = 12;
constexpr int kButtonInset = 4;
}  // namespace

CRightToolBar::CRightToolBar(QWidget* parent) : QWidget(parent) {
    setObjectName("RightToolBar");
    setAttribute(Qt::WA_OpaquePaintEvent);
    font_ = LoadAppFont(971, FontSize(24, 700));
    top_ = LoadThemeQColor(493, Rgb(51, 102, 204));
    bottom_ = LoadThemeQColor(494, Rgb(51, 102, 204));
    text_ = LoadThemeQColor(495, Rgb(255, 255, 255));
    line_ = LoadThemeQColor(496, Rgb(197, 197, 197));
    quick_jump_ = new CFlatToolButton(SharedImageList(4), kQuickJumpImage, kQuickJumpCommand, this,
                                      SharedImageList(3));
    quick_jump_->SetHotPlate(Qt::transparent);
    quick_jump_->resize(32, 32);
    quick_jump_->SetToolTipText(LoadCommandTip(kQuickJumpCommand));
    quick_jump_->hide();
    connect(quick_jump_, &CFlatToolButton::Clicked, this, &CRightToolBar::Command);
    setFixedHeight(std::max(kHeight, QFontMetrics(font_).height() + 12));
}

void CRightToolBar::SetTitle(const QString& title) {
    title_ = title;
    update();
}

void CRightToolBar::ShowQuickJump(bool shown) {
    quick_jump_->setVisible(shown);
}

void CRightToolBar::resizeEvent(QResizeEvent*) {
    quick_jump_->move(width() - kButtonInset - quick_jump_->width(), kButtonInset);
}

void CRightToolBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    PaintGradientBand(p, rect(), top_, bottom_, line_);
    p.setPen(text_);
    p.setFont(font_);
    const QFontMetrics metrics(font_);
    const int right = quick_jump_->isVisible() ? quick_jump_->x() : width();
    QRect room(kTitleLeft, 0, std::max(0, right - kTitleLeft), height());
    // "host > enclosure": the ">" becomes the separator picture.
    const qsizetype split = title_.indexOf('>');
    const QString before = split < 0 ? title_ : title_.left(split);
    p.drawText(room, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
               metrics.elidedText(before, Qt::ElideRight, room.width()));
    if (split < 0) return;
    room.setLeft(room.left() + metrics.horizontalAdvance(before));
    const CImageList& separators = SharedImageList(2);
    separators.Draw(p, kSeparatorImage, {room.left(), (height() - separators.cell_height()) / 2});
    room.setLeft(room.left() + separators.cell_width());
    p.drawText(room, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
               metrics.elidedText(title_.mid(split + 1), Qt::ElideRight, room.width()));
}

}  // namespace halvorin
