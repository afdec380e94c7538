#include "shell/app/hand_over_animation.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWidget>

namespace halvorin {

namespace {

class HandOverOutline : public QWidget {
  public:
    HandOverOutline()
        : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowTransparentForInput |
                               Qt::WindowDoesNotAcceptFocus) {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_DeleteOnClose);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(QPen(QColor(0x43, 0xa0, 0xae), 2));
        p.setBrush(QColor(0x43, 0xa0, 0xae, 40));
        p.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
};

}  // namespace

void AnimateHandOver(const QRect& from, const QRect& to) {
    if (!from.isValid() || !to.isValid()) return;
    auto* outline = new HandOverOutline;
    outline->setGeometry(from);
    auto* flight = new QPropertyAnimation(outline, "geometry", outline);
    flight->setDuration(kHandOverMs);
    flight->setStartValue(from);
    flight->setEndValue(to);
    flight->setEasingCurve(QEasingCurve::InOutQuad);
    QObject::connect(flight, &QPropertyAnimation::finished, outline, &QWidget::close);
    outline->show();
    flight->start();
}

QRect TrayIconPlace(const QSystemTrayIcon* icon) {
    if (icon && icon->geometry().isValid()) return icon->geometry();
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return {};
    const QRect work = screen->availableGeometry();
    return QRect(work.right() - 56, work.bottom() - 16, 16, 16);
}

}  // namespace halvorin
