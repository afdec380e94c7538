#include "apps/render_output.h"

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

}  // namespace halvorin
