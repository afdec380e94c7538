#include "tests/support/synthetic_mouse.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

namespace halvorin::test {

namespace {

void Send(QWidget& widget, QEvent::Type type, QPointF at, Qt::MouseButton button,
          Qt::MouseButtons held) {
    QMouseEvent event(type, at, widget.mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

}  // namespace

void HoverAt(QWidget& widget, QPointF at) {
    Send(widget, QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
}

void PressAt(QWidget& widget, QPointF at) {
    Send(widget, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
    Send(widget, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
}

void ClickAt(QWidget& widget, QPointF at) {
    HoverAt(widget, at);
    PressAt(widget, at);
}

}  // namespace halvorin::test
