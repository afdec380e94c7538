#include "shell/widgets/painted_button_accessible.h"

#include <QPointer>
#include <QWidget>
#include <QWindow>

#include "shell/widgets/post_to_ui.h"

namespace halvorin {

namespace {

class PaintedButtonAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
  public:
    PaintedButtonAccessible(QWidget* owner, PaintedButton button)
        : owner_(owner), button_(std::move(button)) {}

    bool isValid() const override { return owner_; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return owner_ ? owner_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(owner_.data());
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text kind) const override {
        return owner_ && kind == QAccessible::Name ? button_.name() : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!owner_) return {};
        const QRect r = button_.rect();
        return r.isEmpty() ? QRect() : QRect(owner_->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::Button; }
    QAccessible::State state() const override {
        QAccessible::State s;
        s.disabled = !Enabled();
        s.invisible = owner_ && button_.rect().isEmpty();
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    // Pressing may open a modal loop; the screen reader's call is answered first.
    void doAction(const QString& name) override {
        if (name != pressAction() || !Enabled()) return;
        PostToUi(owner_.data(), button_.press);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

  private:
    bool Enabled() const { return owner_ && (!button_.enabled || button_.enabled()); }

    QPointer<QWidget> owner_;
    PaintedButton button_;
};

}  // namespace

QAccessible::Id RegisterPaintedButton(QWidget* owner, PaintedButton button) {
    return QAccessible::registerAccessibleInterface(
        new PaintedButtonAccessible(owner, std::move(button)));
}

}  // namespace halvorin
