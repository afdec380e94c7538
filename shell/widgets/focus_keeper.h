// FocusKeeper: disabling a window for a modal wait takes the keyboard focus
// away from the widget that had it, and enabling the window again does not
// give it back. A keeper, made before the window is disabled, gives the
// focus back to that widget when it goes (if the widget is still there and
// may take it), so a keyboard user stays where they were.
#pragma once

#include <QApplication>
#include <QPointer>
#include <QWidget>

namespace halvorin {

class FocusKeeper {
  public:
    FocusKeeper() : widget_(QApplication::focusWidget()) {}
    ~FocusKeeper() {
        if (widget_ && widget_->isVisible() && widget_->isEnabled())
            widget_->setFocus(Qt::OtherFocusReason);
    }
    FocusKeeper(const FocusKeeper&) = delete;
    FocusKeeper& operator=(const FocusKeeper&) = delete;

  private:
    QPointer<QWidget> widget_;
};

}  // namespace halvorin
