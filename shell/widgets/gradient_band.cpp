#include "shell/widgets/gradient_band.h"

#include <QLinearGradient>

namespace halvorin {

void PaintGradientBand(QPainter& painter, const QRect& band, QColor top, QColor bottom,
                       QColor bottom_line) {
    QLinearGradient gradient(0, band.top(), 0, band.top() + band.height());
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    painter.fillRect(band, gradient);
    if (bottom_line.alpha() == 0) return;
    painter.setPen(bottom_line);
    painter.drawLine(band.left(), band.bottom(), band.right(), band.bottom());
}

}  // namespace halvorin
