#include "shell/frame/main_wnd.h"

#include <QCloseEvent>
#include <QPainter>
#include <QToolButton>

#include "shell/theme/shared_look.h"
#include "shell/theme/string_resources.h"
#include "shell/theme/theme_font.h"

namespace halvorin {

namespace {

constexpr int kAgentModeCommand = 252;
constexpr int kWelcomeBitmap = 311;
constexpr int kAgentBitmap = 310;
constexpr int kWelcomeText = 23;
constexpr int kAgentModeLabel = 232;
constexpr int kAgentModeTip = 252;

// The tool tip part of a command string ("prompt\ntip").
QString ToolTipOf(int string_id) {
    return LoadQString(string_id).section('\n', -1);
}

}  // namespace

CMainWnd::CMainWnd(const QString& title) {
    setObjectName(kWindowClass);
    setWindowTitle(title);
    background_ = LoadThemeColor(406, Rgb(197, 197, 197));
    welcome_background_ = LoadThemeColor(423, Rgb(230, 230, 230));
    welcome_text_ = LoadThemeColor(432, Rgb(102, 102, 102));
    welcome_font_ = CreateThemeFont(LoadThemeFont(988, FontSize(22, 700), AppFontFace()));
    auto picture = LoadBitmapResource(kWelcomeBitmap);
    if (picture)
        welcome_picture_ = CImageList(*picture, picture->width(), QColor(0, 255, 0)).Image(0);

    agent_mode_button_ = new QToolButton(this);
    agent_mode_button_->setObjectName("AgentModeButton");
    agent_mode_button_->setText(LoadQString(kAgentModeLabel));
    agent_mode_button_->setToolTip(ToolTipOf(kAgentModeTip));
    if (auto agent = CImageList::FromBitmap(kAgentBitmap, 24, QColor(0, 255, 0))) {
        agent_mode_button_->setIcon(QIcon(QPixmap::fromImage(agent->Image(0))));
    }
    agent_mode_button_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    agent_mode_button_->setAutoRaise(true);
    agent_mode_button_->setFont(
        CreateThemeFont(LoadThemeFont(878, FontSize(22, 700), AppFontFace())));
    connect(agent_mode_button_, &QToolButton::clicked, this,
            [this] { emit Command(kAgentModeCommand); });
    resize(1280, 693);
}

void CMainWnd::resizeEvent(QResizeEvent*) {
    agent_mode_button_->adjustSize();
    agent_mode_button_->move(width() - agent_mode_button_->width() - 12, 12);
}

void CMainWnd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), ToQColor(background_));
    const QRect content = rect().adjusted(1, 1, -1, -1);
    painter.fillRect(content, ToQColor(welcome_background_));
    if (!welcome_picture_.isNull()) {
        const QPoint at((width() - welcome_picture_.width()) / 2,
                        height() / 3 - welcome_picture_.height() / 2);
        painter.drawImage(at, welcome_picture_);
        painter.setFont(welcome_font_);
        painter.setPen(ToQColor(welcome_text_));
        const int top = at.y() + welcome_picture_.height() + 40;
        painter.drawText(QRect(20, top, width() - 40, height() - top),
                         Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
                         LoadQString(kWelcomeText));
    }
}

void CMainWnd::closeEvent(QCloseEvent* event) {
    emit Closed();
    event->accept();
}

}  // namespace halvorin
