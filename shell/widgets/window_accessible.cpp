#include "shell/widgets/window_accessible.h"

#include <QAccessibleWidget>
#include <QWidget>
#include <cstring>

namespace halvorin {

namespace {

struct WindowClass {
    const char* name;
    QAccessible::Role role;
};

constexpr WindowClass kWindowClasses[] = {
    {"halvorin::CMainWnd", QAccessible::Window},
    {"halvorin::CAgentWnd", QAccessible::Window},
    {"halvorin::CAboutWnd", QAccessible::Window},
    {"halvorin::CStatusWnd", QAccessible::Window},
};

QAccessibleInterface* WindowFactory(const QString& class_name, QObject* object) {
    if (!object || !object->isWidgetType()) return nullptr;
    for (const WindowClass& window : kWindowClasses) {
        if (class_name == QLatin1String(window.name)) {
            return new QAccessibleWidget(static_cast<QWidget*>(object), window.role);
        }
    }
    return nullptr;
}

}  // namespace

void InstallWindowAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(WindowFactory);
        return true;
    }();
    (void)installed;
}

}  // namespace halvorin
