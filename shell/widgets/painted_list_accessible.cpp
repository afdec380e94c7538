#include "shell/widgets/painted_list_accessible.h"

#include <QAccessibleWidget>
#include <QPointer>
#include <optional>
#include <unordered_map>
#include <vector>

#include "shell/widgets/accessible_factory.h"
#include "shell/widgets/painted_list.h"
#include "shell/widgets/post_to_ui.h"

namespace halvorin {

namespace {

// Presses run from the event loop: acting may wait in a modal loop, and the
// screen reader's call must be answered first.
template <typename Action>
void PressLater(CPaintedList* list, Action action) {
    PostToUi(list, [list, action] { action(*list); });
}

// A control painted in a row, looked up by its row and position each time.
class ControlAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
  public:
    ControlAccessible(CPaintedList* list, int row, int index)
        : list_(list), row_(row), index_(index) {}

    bool isValid() const override { return Control().has_value(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return list_ ? list_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int) const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text kind) const override {
        const auto control = Control();
        if (!control) return {};
        if (kind == QAccessible::Name) return control->name;
        if (kind == QAccessible::Description) return control->description;
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        const auto control = Control();
        const QRect row = list_ ? list_->RowRect(row_) : QRect();
        if (!control || row.isEmpty()) return {};
        return QRect(list_->mapToGlobal(row.topLeft() + control->rect.topLeft()),
                     control->rect.size());
    }
    QAccessible::Role role() const override {
        const auto control = Control();
        return control ? control->role : QAccessible::Button;
    }
    QAccessible::State state() const override {
        QAccessible::State s;
        const auto control = Control();
        if (!control) return s;
        s.disabled = !control->enabled;
        s.focusable = true;
        s.focused =
            list_->hasFocus() && list_->CurrentRow() == row_ && list_->CurrentControl() == index_;
        s.checkable = control->checked.has_value();
        s.checked = control->checked.value_or(false);
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        const auto control = Control();
        if (name != pressAction() || !control || !control->enabled) return;
        PressLater(list_.data(), [row = row_, id = control->id](CPaintedList& list) {
            list.PressRowControl(row, id);
        });
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

  private:
    std::optional<RowControl> Control() const {
        if (!list_ || row_ >= list_->RowCount()) return std::nullopt;
        const std::vector<RowControl> controls = list_->RowControls(row_);
        if (index_ >= int(controls.size())) return std::nullopt;
        return controls[size_t(index_)];
    }

    QPointer<CPaintedList> list_;
    const int row_, index_;
};

// One row; it looks the row up by index each time, so it never outlives
// what it describes.
class RowAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
  public:
    RowAccessible(CPaintedList* list, int row) : list_(list), row_(row) {}
    ~RowAccessible() override {
        for (QAccessible::Id id : controls_)
            QAccessible::deleteAccessibleInterface(id);
    }

    bool isValid() const override { return list_ && row_ < list_->RowCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return list_ ? list_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(list_.data());
    }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= childCount()) return nullptr;
        while (int(controls_.size()) <= index) {
            controls_.push_back(QAccessible::registerAccessibleInterface(
                new ControlAccessible(list_.data(), row_, int(controls_.size()))));
        }
        return QAccessible::accessibleInterface(controls_[size_t(index)]);
    }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    int childCount() const override { return isValid() ? int(list_->RowControls(row_).size()) : 0; }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (size_t i = 0; i < controls_.size(); ++i) {
            if (QAccessible::accessibleInterface(controls_[i]) == child) return int(i);
        }
        return -1;
    }
    QString text(QAccessible::Text kind) const override {
        if (!isValid()) return {};
        if (kind == QAccessible::Name) return list_->RowText(row_);
        if (kind == QAccessible::Description) return list_->RowDescription(row_);
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid()) return {};
        const QRect r = list_->RowRect(row_);
        return r.isEmpty() ? QRect() : QRect(list_->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid()) return s;
        s.invisible = list_->RowRect(row_).isEmpty();
        s.offscreen = s.invisible;
        s.focusable = true;
        s.focused = list_->hasFocus() && list_->CurrentRow() == row_;
        list_->DescribeRowState(row_, s);
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }

    QStringList actionNames() const override {
        return isValid() && list_->RowHasAction(row_) ? QStringList{pressAction()} : QStringList{};
    }
    void doAction(const QString& name) override {
        if (name != pressAction() || !isValid() || !list_->RowHasAction(row_)) return;
        PressLater(list_.data(), [row = row_](CPaintedList& list) {
            if (row < list.RowCount() && list.RowHasAction(row)) {
                list.SetCurrentRow(row);
                list.ActivateRow(row);
            }
        });
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

  private:
    QPointer<CPaintedList> list_;
    const int row_;
    mutable std::vector<QAccessible::Id> controls_;
};

QAccessibleInterface* ControlAccessible::parent() const {
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(list_.data());
    return list ? list->child(row_) : nullptr;
}

class PaintedListAccessible : public QAccessibleWidget {
  public:
    explicit PaintedListAccessible(CPaintedList* list)
        : QAccessibleWidget(list, QAccessible::List) {}
    ~PaintedListAccessible() override {
        for (const auto& [row, id] : rows_)
            QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return List()->RowCount(); }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= childCount()) return nullptr;
        auto found = rows_.find(index);
        if (found != rows_.end()) return QAccessible::accessibleInterface(found->second);
        auto* row = new RowAccessible(List(), index);
        rows_[index] = QAccessible::registerAccessibleInterface(row);
        return row;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (const auto& [row, id] : rows_) {
            if (QAccessible::accessibleInterface(id) == child) return row;
        }
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const int row = List()->RowAt(List()->mapFromGlobal(QPoint(x, y)));
        return row < 0 ? nullptr : child(row);
    }
    QAccessibleInterface* focusChild() const override {
        return List()->hasFocus() ? child(List()->CurrentRow()) : nullptr;
    }

  private:
    CPaintedList* List() const { return static_cast<CPaintedList*>(widget()); }
    mutable std::unordered_map<int, QAccessible::Id> rows_;
};

}  // namespace

void InstallPaintedListAccessibility() {
    InstallAccessibleFactory<CPaintedList, PaintedListAccessible>();
}

}  // namespace halvorin
