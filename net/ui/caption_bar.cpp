#include "net/ui/caption_bar.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include "shell/theme/shared_look.h"
#include "shell/theme/string_resources.h"
#include "shell/theme/theme_color.h"
#include "shell/theme/theme_font.h"
#include "shell/widgets/flat_tool_button.h"
#include "shell/widgets/gradient_band.h"
#include "shell/widgets/message_box.h"
#include "shell/widgets/window_manager.h"

namespace halvorin {

namespace {
constexpr int kButtonsBitmap = 312;
constexpr int kButtonImageWidth = 14;
constexpr int kTitleId = 57344;
constexpr int kButtonsRight = 8;
constexpr int kButtonsTop = 4;
constexpr int kTitleLeft = 12;
}  // namespace

CCaptionBar::CCaptionBar(QWidget* parent) : QWidget(parent) {
    setObjectName("CaptionBar");
    setAttribute(Qt::WA_OpaquePaintEvent);
    title_ = LoadQString(kTitleId);
    if (title_.isEmpty()) title_ = "Halvorin";
    FontDescription font = LoadThemeFont(879, FontSize(22, 700), AppFontFace());
    font.weight = 700;
    title_font_ = CreateThemeFont(font);
    title_colour_ = LoadThemeQColor(411, Rgb(0x66, 0x66, 0x66));
    top_ = LoadThemeQColor(408, Rgb(0xf3, 0xf3, 0xf3));
    bottom_ = LoadThemeQColor(409, Rgb(0xf3, 0xf3, 0xf3));
    line_ = LoadThemeQColor(410, Rgb(0xc5, 0xc5, 0xc5));
    images_ = CImageList::FromBitmap(kButtonsBitmap, kButtonImageWidth, QColor(0, 255, 0))
                  .value_or(CImageList{});
    const int commands[3] = {kMinimize, kMaximize, kClose};
    const int pictures[3] = {kMinimizeImage, kMaximizeImage, kCloseImage};
    for (int i = 0; i < 3; ++i) {
        buttons_[i] = new CFlatToolButton(images_, pictures[i], commands[i], this);
        buttons_[i]->SetToolTipText(LoadQString(commands[i]));
        connect(buttons_[i], &CFlatToolButton::Clicked, this, &CCaptionBar::OnCommand);
    }
    setFixedHeight(std::max(29, QFontMetrics(title_font_).height() + 12 + 1));
    parent->window()->installEventFilter(this);
}

bool CCaptionBar::OnCommand(int id) {
    QWidget* frame = window();
    switch (id) {
        case kMinimize:
            // Without a window manager nobody iconifies a window: the
            // nearest is to put it below every other window.
            if (WindowManagerIsRunning())
                frame->showMinimized();
            else
                frame->lower();
            return true;
        case kMaximize:
            if (WindowManagerIsRunning())
                frame->showMaximized();
            else
                MaximizeByHand();
            FollowWindowState();
            return true;
        case kRestore:
            if (maximized_by_hand_)
                RestoreByHand();
            else
                frame->showNormal();
            FollowWindowState();
            return true;
        case kClose: {
            CMessageBox box;
            if (box.ShowMessageBox(CMessageBox::kQuestion, kExitQuestion) ==
                CMessageBox::kResultYes)
                frame->close();
            return true;
        }
        default:
            return false;
    }
}

// Without a window manager nobody acts on a request to maximise, so the
// window takes the screen's working area itself and keeps the rectangle to
// come back to. The window system's state stays "normal", which it is.
void CCaptionBar::MaximizeByHand() {
    QWidget* frame = window();
    const QScreen* screen = frame->screen();
    if (!screen) return;
    normal_geometry_ = frame->geometry();
    frame->setGeometry(screen->availableGeometry());
    maximized_by_hand_ = true;
}

void CCaptionBar::RestoreByHand() {
    window()->setGeometry(normal_geometry_);
    maximized_by_hand_ = false;
}

bool CCaptionBar::ShowsMaximized() const {
    return maximized_by_hand_ || window()->isMaximized();
}

// The middle button offers what the window is not: restore when it is
// maximised (also by the window manager's own shortcut), maximise otherwise.
void CCaptionBar::FollowWindowState() {
    const bool maximized = ShowsMaximized();
    buttons_[1]->SetCommand(maximized ? kRestore : kMaximize,
                            maximized ? kRestoreImage : kMaximizeImage);
    buttons_[1]->SetToolTipText(LoadQString(buttons_[1]->command()));
}

bool CCaptionBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window()) return QWidget::eventFilter(watched, event);
    const QEvent::Type type = event->type();
    if (type == QEvent::WindowStateChange) FollowWindowState();
    // A window maximised by hand and then moved or resized by hand is no
    // longer maximised: the button offers Maximize again.
    if ((type == QEvent::Move || type == QEvent::Resize) && maximized_by_hand_ &&
        window()->screen() && window()->geometry() != window()->screen()->availableGeometry()) {
        maximized_by_hand_ = false;
        FollowWindowState();
    }
    return QWidget::eventFilter(watched, event);
}

void CCaptionBar::resizeEvent(QResizeEvent*) {
    int x = width() - kButtonsRight;
    for (int i = 2; i >= 0; --i) {
        x -= buttons_[i]->width();
        buttons_[i]->move(x, kButtonsTop);
    }
}

void CCaptionBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    PaintGradientBand(p, rect(), top_, bottom_, line_);
    p.setFont(title_font_);
    p.setPen(title_colour_);
    p.drawText(QRect(kTitleLeft, 0, buttons_[0]->x() - kTitleLeft, height()),
               Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, title_);
}

void CCaptionBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    QWindow* handle = window()->windowHandle();
    // The window system moves the window (X11 and Wayland alike); where it
    // cannot, the bar moves it itself.
    if (handle && handle->startSystemMove()) return;
    moving_by_hand_ = true;
    manual_move_from_ = event->globalPosition().toPoint() - window()->pos();
}

void CCaptionBar::mouseMoveEvent(QMouseEvent* event) {
    if (moving_by_hand_) window()->move(event->globalPosition().toPoint() - manual_move_from_);
}

void CCaptionBar::mouseReleaseEvent(QMouseEvent*) {
    moving_by_hand_ = false;
}

void CCaptionBar::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    OnCommand(ShowsMaximized() ? kRestore : kMaximize);
}

}  // namespace halvorin
