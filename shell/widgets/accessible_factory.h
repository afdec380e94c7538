// Registers, once per process, the accessible interface `Accessible` for
// every object of the widget class `Widget` (and its subclasses).
#pragma once

#include <QAccessible>

namespace halvorin {

template <typename Widget, typename Accessible>
void InstallAccessibleFactory() {
    static const bool installed = [] {
        QAccessible::installFactory([](const QString&, QObject* object) -> QAccessibleInterface* {
            if (auto* widget = qobject_cast<Widget*>(object)) return new Accessible(widget);
            return nullptr;
        });
        return true;
    }();
    (void)installed;
}

}  // namespace halvorin
