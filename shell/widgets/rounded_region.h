// The shape of the program's rounded pop-up windows.
#pragma once

#include <QRegion>
#include <QSize>

namespace halvorin {

// A rectangle of `size` whose corners are ellipses `corner` pixels across.
QRegion RoundedRegion(QSize size, qreal corner);

}  // namespace halvorin
