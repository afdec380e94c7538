// The application's current top-level window (the main window in manager
// mode, the hidden agent window in agent mode): the window that modal boxes
// disable and centre on. The application sets it when it switches windows.
#pragma once

#include <QPointer>
#include <QWidget>

namespace halvorin {

void SetApplicationWindow(QWidget* window);
QWidget* ApplicationWindow();  // nullptr when there is none (or it was destroyed)

}  // namespace halvorin
