// A button a widget paints itself (no widget of its own), as screen readers
// see it: a push button whose name, place and press are asked of the widget
// each time, so it never outlives what it describes.
#pragma once

#include <QAccessible>
#include <QRect>
#include <QString>
#include <functional>

class QWidget;

namespace halvorin {

struct PaintedButton {
    std::function<QString()> name;
    std::function<QRect()> rect;    // in the widget's coordinates; empty when not shown
    std::function<bool()> enabled;  // may be empty: always
    std::function<void()> press;    // run later from the event loop
};

// Registers the button as a child of `owner`'s accessible object; the caller
// keeps the id and deletes it with QAccessible::deleteAccessibleInterface.
QAccessible::Id RegisterPaintedButton(QWidget* owner, PaintedButton button);

}  // namespace halvorin
