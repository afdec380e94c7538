#include "shell/widgets/painted_list_accessible.h"

#include <QAccessibleWidget>
#include <QPointer>
#include <QTimer>
#include <unordered_map>

#include "shell/widgets/painted_list.h"

namespace halvorin {

namespace {

// One row; it looks the row up by index each time, so it never outlives
// what it describes.
class RowAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
  public:
    RowAccessible(CPaintedList* list, int row) : list_(list), row_(row) {}

    bool isValid() const override { return list_ && row_ < list_->RowCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return list_ ? list_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(list_.data());
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
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
    // The press runs from the event loop: acting on a row may wait in a modal
    // loop, and the screen reader's call must be answered first.
    void doAction(const QString& name) override {
        if (name != pressAction() || !isValid() || !list_->RowHasAction(row_)) return;
        QTimer::singleShot(0, list_.data(), [list = list_, row = row_] {
            if (list && row < list->RowCount() && list->RowHasAction(row)) {
                list->SetCurrentRow(row);
                list->ActivateRow(row);
            }
        });
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

  private:
    QPointer<CPaintedList> list_;
    const int row_;
};

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

QAccessibleInterface* PaintedListFactory(const QString&, QObject* object) {
    if (auto* list = qobject_cast<CPaintedList*>(object)) return new PaintedListAccessible(list);
    return nullptr;
}

}  // namespace

void InstallPaintedListAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(PaintedListFactory);
        return true;
    }();
    (void)installed;
}

}  // namespace halvorin
