#include "enclosure/statuswnd/status_wnd.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include "shell/theme/shared_look.h"
#include "shell/theme/string_resources.h"
#include "shell/theme/theme_font.h"
#include "shell/widgets/rounded_region.h"
#include "shell/widgets/window_accessible.h"

namespace halvorin {

namespace {

constexpr int kStatusImageList = 6;
constexpr qreal kTimedOpacity = 250.0 / 255.0;

}  // namespace

QPointer<CStatusWnd> CStatusWnd::ShowStatus(int text_id, QWidget* owner, int duration_ms) {
    QPointer<CStatusWnd> window =
        new CStatusWnd(text_id, owner, duration_ms);  // deletes itself on close
    window->show();
    if (window->timed()) window->timer_.start(duration_ms);
    return window;
}

CStatusWnd::CStatusWnd(int text_id, QWidget* owner, int duration_ms)
    : QWidget(owner,
              Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus |
                  (duration_ms == kUntimed ? Qt::WindowFlags() : Qt::WindowTransparentForInput)),
      text_(LoadQString(text_id)),
      duration_(duration_ms < 0 ? kUntimed : duration_ms) {
    InstallWindowAccessibility();
    setObjectName("StatusWnd");
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    if (timed()) {
        setWindowOpacity(kTimedOpacity);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    font_ = CreateThemeFont(LoadThemeFont(986, FontSize(14, 0), AppFontFace()));
    background_ = LoadThemeColor(646, Rgb(255, 255, 255));
    text_colour_ = LoadThemeColor(647, Rgb(0, 0, 0));
    border_ = LoadThemeColor(648, Rgb(204, 204, 204));

    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &QWidget::close);
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* focus) {
        if (focus != nullptr && focus != windowHandle()) OnActivationLost();
    });
    LayOut();
}

int CStatusWnd::IconHeight() const {
    return SharedImageList(kStatusImageList).cell_height();
}

void CStatusWnd::LayOut() {
    const QFontMetrics metrics(font_);
    const int width = metrics.horizontalAdvance(text_) + 40;
    const int height = metrics.height() + IconHeight() + 54;
    setFixedSize(width, height);
    const QWidget* top = parentWidget() ? parentWidget()->window() : nullptr;
    const QRect over = top ? top->frameGeometry() : QGuiApplication::primaryScreen()->geometry();
    move(over.center() - QPoint(width / 2, height / 2));
    setMask(RoundedRegion(size(), 11));
}

void CStatusWnd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), ToQColor(background_));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(ToQColor(border_), 1));
    painter.drawRoundedRect(QRectF(0.5, 0.5, width() - 2, height() - 2), 6.5, 6.5);

    const CImageList& icons = SharedImageList(kStatusImageList);
    icons.Draw(painter, 0, QPoint((width() - icons.cell_width()) / 2, 20));

    painter.setFont(font_);
    painter.setPen(ToQColor(text_colour_));
    const int text_top = IconHeight() + 34;
    painter.drawText(QRect(0, text_top, width(), height() - text_top),
                     Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, text_);
}

void CStatusWnd::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) OnActivationLost();
    QWidget::changeEvent(event);
}

void CStatusWnd::OnActivationLost() {
    timer_.stop();
    if (timed()) close();
}

}  // namespace halvorin
