// Text that wraps at word boundaries inside a rectangle: as many lines as
// the rectangle's height holds, the last one cut with an ellipsis when text
// remains, and a word wider than a line cut with an ellipsis as well.
#pragma once

#include <QFont>
#include <QPainter>
#include <QRect>
#include <QString>

namespace halvorin {

void DrawWrappedText(QPainter& painter, const QRect& rect, const QFont& font, const QString& text);

// The height the lines of `text` take, wrapped at `width` (no limit on lines).
int WrappedTextHeight(const QFont& font, int width, const QString& text);

}  // namespace halvorin
