// The look the program's bars share: a vertical gradient over the bar and,
// optionally, a 1-px line along its bottom row.
#pragma once

#include <QColor>
#include <QPainter>
#include <QRect>

namespace halvorin {

void PaintGradientBand(QPainter& painter, const QRect& band, QColor top, QColor bottom,
                       QColor bottom_line = Qt::transparent);

}  // namespace halvorin
