#include "shell/widgets/flat_tool_button_accessible.h"

#include <QAccessibleWidget>

#include "shell/widgets/accessible_factory.h"
#include "shell/widgets/flat_tool_button.h"
#include "shell/widgets/post_to_ui.h"

namespace halvorin {

namespace {

class FlatToolButtonAccessible : public QAccessibleWidget {
  public:
    explicit FlatToolButtonAccessible(CFlatToolButton* button)
        : QAccessibleWidget(button, QAccessible::Button) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name) return Button()->AccessibleName();
        if (kind == QAccessible::Description) return Button()->toolTipText();
        return QAccessibleWidget::text(kind);
    }
    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    // The click runs from the event loop: a command may open a modal box,
    // and the screen reader's call must be answered first.
    void doAction(const QString& name) override {
        if (name != pressAction()) {
            QAccessibleWidget::doAction(name);
            return;
        }
        CFlatToolButton* button = Button();
        PostToUi(button, [button] {
            if (button->isEnabled()) emit button->Clicked(button->command());
        });
    }

  private:
    CFlatToolButton* Button() const { return static_cast<CFlatToolButton*>(widget()); }
};

}  // namespace

void InstallFlatToolButtonAccessibility() {
    InstallAccessibleFactory<CFlatToolButton, FlatToolButtonAccessible>();
}

}  // namespace halvorin
