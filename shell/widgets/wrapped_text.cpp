#include "shell/widgets/wrapped_text.h"

#include <QFontMetrics>
#include <QTextLayout>

namespace halvorin {

namespace {

// Lays the text out in lines of `width`; calls `line(start, length)` for
// each until it returns false.
template <typename OnLine>
void LayOutLines(const QFont& font, int width, const QString& text, OnLine line) {
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine l = layout.createLine(); l.isValid(); l = layout.createLine()) {
        l.setLineWidth(width);
        if (!line(l.textStart(), l.textLength())) break;
    }
    layout.endLayout();
}

}  // namespace

void DrawWrappedText(QPainter& painter, const QRect& rect, const QFont& font, const QString& text) {
    if (rect.width() <= 0 || rect.height() <= 0) return;
    const QFontMetrics metrics(font);
    const int line_height = metrics.height();
    const int lines_that_fit = std::max(1, rect.height() / line_height);
    painter.setFont(font);
    int number = 0;
    LayOutLines(font, rect.width(), text, [&](int start, int length) {
        const bool last = ++number == lines_that_fit;
        // The last line that fits takes whatever text remains, cut short.
        QString line = last ? text.mid(start) : text.mid(start, length);
        line.replace('\n', ' ');
        const QString shown = metrics.elidedText(line.trimmed(), Qt::ElideRight, rect.width());
        const QRect where(rect.left(), rect.top() + (number - 1) * line_height, rect.width(),
                          line_height);
        painter.drawText(where, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, shown);
        return !last;
    });
}

int WrappedTextHeight(const QFont& font, int width, const QString& text) {
    int lines = 0;
    LayOutLines(font, std::max(1, width), text, [&](int, int) {
        ++lines;
        return true;
    });
    return lines * QFontMetrics(font).height();
}

}  // namespace halvorin
