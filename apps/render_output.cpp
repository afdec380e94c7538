#include "apps/render_output.h"

#include <QApplication>
#include <QElapsedTimer>
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
