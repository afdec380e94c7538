#include "shell/widgets/rounded_region.h"

#include <QPainterPath>

namespace halvorin {

QRegion RoundedRegion(QSize size, qreal corner) {
    QPainterPath path;
    path.addRoundedRect(QRectF(QPointF(0, 0), size), corner / 2, corner / 2);
    return QRegion(path.toFillPolygon().toPolygon());
}

}  // namespace halvorin
