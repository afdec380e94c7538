#include "shell/frame/main_tool_bar.h"

#include <QPainter>

#include "shell/theme/string_resources.h"
#include "shell/theme/theme_color.h"
#include "shell/theme/theme_font.h"
#include "shell/widgets/flat_tool_button.h"
#include "shell/widgets/gradient_band.h"

namespace halvorin {

namespace {
constexpr int kLogoBitmap = 306;
constexpr int kStripRight = 12;
constexpr int kStripBottom = 10;
const QSize kTextPadding(30, 4);
}  // namespace

CMainToolBar::CMainToolBar(QWidget* parent) : QWidget(parent) {
    setObjectName("MainToolBar");
    setAttribute(Qt::WA_OpaquePaintEvent);
    top_ = LoadThemeQColor(412, Rgb(51, 102, 204));
    bottom_ = LoadThemeQColor(413, Rgb(51, 102, 204));
    line_ = LoadThemeQColor(414, LoadThemeColor(413, Rgb(51, 102, 204)));
    font_ = LoadAppFont(878, FontSize(22, 700));
    logo_ = CImageList::FromBitmap(kLogoBitmap, 122, QColor(0, 255, 0)).value_or(CImageList{});
    const QColor text = LoadThemeQColor(415, Rgb(0, 0, 0));
    const int commands[3] = {kDashboardCommand, kAgentModeCommand, kAboutCommand};
    const int texts[3] = {231, 232, 233};
    int tallest = 0;
    for (int i = 0; i < 3; ++i) {
        buttons_[i] = new CFlatToolButton(LoadQString(texts[i]), font_, text, kTextPadding,
                                          commands[i], this);
        buttons_[i]->SetToolTipText(LoadCommandTip(commands[i]));
        connect(buttons_[i], &CFlatToolButton::Clicked, this, &CMainToolBar::Command);
        tallest = std::max(tallest, buttons_[i]->height());
    }
    setFixedHeight(std::max(kHeight, tallest + 1));
}

void CMainToolBar::resizeEvent(QResizeEvent*) {
    int x = width() - kStripRight;
    for (int i = 2; i >= 0; --i) {
        x -= buttons_[i]->width();
        buttons_[i]->move(x, height() - kStripBottom - buttons_[i]->height());
    }
}

void CMainToolBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    PaintGradientBand(p, rect(), top_, bottom_, line_);
    logo_.Draw(p, 0, {(width() - logo_.cell_width()) / 2, (height() - logo_.cell_height()) / 2});
}

}  // namespace halvorin
