#include "shell/theme/application_icon.h"

#include <QPixmap>

#include "shell/theme/theme_resources.h"

namespace halvorin {

QIcon ApplicationIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const auto bytes = ReadResource(QString("icons/280-%1.png").arg(size));
        QPixmap pixmap;
        if (bytes && pixmap.loadFromData(*bytes, "PNG")) icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace halvorin
