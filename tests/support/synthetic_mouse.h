// Mouse input sent straight to a widget, with no window system between: the
// window renderer and the benchmarks pose widgets with it and get the same
// result on every platform plugin, offscreen included.
#pragma once

#include <QPointF>

class QWidget;

namespace halvorin::test {

// The pointer moves to `at` (widget coordinates) with no button held.
void HoverAt(QWidget& widget, QPointF at);
// The left button goes down and up at `at`, with no move before.
void PressAt(QWidget& widget, QPointF at);
// The pointer moves to `at`, then the left button goes down and up there.
void ClickAt(QWidget& widget, QPointF at);

}  // namespace halvorin::test
