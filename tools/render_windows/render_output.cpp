#include "tools/render_windows/render_output.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <cstdio>

namespace halvorin {

bool SaveWidget(QWidget& widget, const QString& path) {
    if (widget.grab().save(path)) {
        std::printf("%s\n", qPrintable(path));
        return true;
    }
    std::fprintf(stderr, "halvorin-render-windows: cannot write %s\n", qPrintable(path));
    return false;
}

QImage ShapedSnapshot(QWidget& widget) {
    QImage image = widget.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    if (widget.mask().isEmpty()) return image;
    QImage shaped(image.size(), QImage::Format_ARGB32);
    shaped.fill(Qt::transparent);
    QPainter painter(&shaped);
    painter.setClipRegion(widget.mask());
    painter.drawImage(0, 0, image);
    return shaped;
}

bool WaitFor(const std::function<bool()>& done, int limit_ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limit_ms) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

}  // namespace halvorin
