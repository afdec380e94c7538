#include "shell/widgets/application_window.h"

namespace halvorin {

namespace {

QPointer<QWidget>& Window() {
    static QPointer<QWidget> window;
    return window;
}

}  // namespace

void SetApplicationWindow(QWidget* window) {
    Window() = window;
}

QWidget* ApplicationWindow() {
    return Window().data();
}

}  // namespace halvorin
