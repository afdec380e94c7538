#include "net/ui/server_edit_bar_accessible.h"

#include <QAccessibleWidget>
#include <QPointer>
#include <QTimer>

#include "net/ui/server_edit_bar.h"

namespace halvorin {

namespace {

// The painted "+" button; it asks the bar for everything each time.
class AddButtonAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
  public:
    explicit AddButtonAccessible(CServerEditBar* bar) : bar_(bar) {}

    bool isValid() const override { return bar_; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return bar_ ? bar_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(bar_.data());
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text kind) const override {
        return kind == QAccessible::Name ? CServerEditBar::AddButtonName() : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!bar_) return {};
        const QRect r = bar_->ButtonRect();
        return QRect(bar_->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::Button; }
    QAccessible::State state() const override {
        QAccessible::State s;
        s.disabled = !bar_ || bar_->disabled();
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        if (name != pressAction() || !bar_) return;
        QTimer::singleShot(0, bar_.data(), [bar = bar_] {
            if (bar && !bar->disabled() && !bar->placeholderShown()) bar->Commit();
        });
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

  private:
    QPointer<CServerEditBar> bar_;
};

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
            button_ = QAccessible::registerAccessibleInterface(new AddButtonAccessible(Bar()));
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

QAccessibleInterface* ServerEditBarFactory(const QString&, QObject* object) {
    if (auto* bar = qobject_cast<CServerEditBar*>(object)) return new ServerEditBarAccessible(bar);
    return nullptr;
}

}  // namespace

void InstallServerEditBarAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(ServerEditBarFactory);
        return true;
    }();
    (void)installed;
}

}  // namespace halvorin
