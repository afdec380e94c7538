#include "net/ui/server_edit_bar_accessible.h"

#include <QAccessibleWidget>

#include "net/ui/server_edit_bar.h"
#include "shell/widgets/accessible_factory.h"
#include "shell/widgets/painted_button_accessible.h"

namespace halvorin {

namespace {

class ServerEditBarAccessible : public QAccessibleWidget {
  public:
    explicit ServerEditBarAccessible(CServerEditBar* bar)
        : QAccessibleWidget(bar, QAccessible::EditableText) {}
    ~ServerEditBarAccessible() override {
        if (button_) QAccessible::deleteAccessibleInterface(button_);
    }

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name) return Bar()->PlaceholderText();
        if (kind == QAccessible::Value)
            return Bar()->placeholderShown() ? QString() : Bar()->text();
        return QAccessibleWidget::text(kind);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = !Bar()->disabled();
        s.focusable = true;
        return s;
    }
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override {
        if (index != 0) return nullptr;
        if (!button_) {
            CServerEditBar* bar = Bar();
            button_ = RegisterPaintedButton(
                bar, {&CServerEditBar::AddButtonName, [bar] { return bar->ButtonRect(); },
                      [bar] { return !bar->disabled(); },
                      [bar] {
                          if (!bar->placeholderShown()) bar->Commit();
                      }});
        }
        return QAccessible::accessibleInterface(button_);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return button_ && QAccessible::accessibleInterface(button_) == child ? 0 : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        return Bar()->ButtonRect().contains(Bar()->mapFromGlobal(QPoint(x, y))) ? child(0)
                                                                                : nullptr;
    }

  private:
    CServerEditBar* Bar() const { return static_cast<CServerEditBar*>(widget()); }
    mutable QAccessible::Id button_ = 0;
};

}  // namespace

void InstallServerEditBarAccessibility() {
    InstallAccessibleFactory<CServerEditBar, ServerEditBarAccessible>();
}

}  // namespace halvorin
