#include "views/elem_list_accessible.h"

#include <QAccessibleWidget>
#include <unordered_map>

#include "views/elem_list_box.h"

namespace halvorin {

namespace {

// One row; it looks the row up by index each time, so it never outlives
// what it describes.
class RowAccessible : public QAccessibleInterface {
  public:
    RowAccessible(CElemListBox* list, int row) : list_(list), row_(row) {}

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
        if (kind == QAccessible::Description) return list_->ToolTipText(MakeHitCode(row_, HS_ROW));
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
        const CItemData* row = list_->Row(row_);
        if (row && (row->flags & ROW_GROUP_HEADER) && !(row->flags & ROW_PANEL)) {
            s.expandable = true;
            s.expanded = (row->flags & ROW_EXPANDED) != 0;
            s.collapsed = !s.expanded;
        }
        return s;
    }

  private:
    QPointer<CElemListBox> list_;
    const int row_;
};

class ElemListAccessible : public QAccessibleWidget {
  public:
    explicit ElemListAccessible(CElemListBox* list) : QAccessibleWidget(list, QAccessible::List) {}
    ~ElemListAccessible() override {
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

  private:
    CElemListBox* List() const { return static_cast<CElemListBox*>(widget()); }
    mutable std::unordered_map<int, QAccessible::Id> rows_;
};

QAccessibleInterface* ElemListFactory(const QString&, QObject* object) {
    if (auto* list = qobject_cast<CElemListBox*>(object)) return new ElemListAccessible(list);
    return nullptr;
}

}  // namespace

void InstallElemListAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(ElemListFactory);
        return true;
    }();
    (void)installed;
}

}  // namespace halvorin
