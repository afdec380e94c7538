#include "shell/widgets/message_box_accessible.h"

#include <QAccessibleWidget>
#include <vector>

#include "shell/widgets/accessible_factory.h"
#include "shell/widgets/message_box.h"
#include "shell/widgets/painted_button_accessible.h"

namespace halvorin {

namespace {

// The widget's own children first (the close button), then the answers.
class MessageBoxAccessible : public QAccessibleWidget {
  public:
    explicit MessageBoxAccessible(CMessageBox* box) : QAccessibleWidget(box, QAccessible::Dialog) {}
    ~MessageBoxAccessible() override {
        for (QAccessible::Id id : answers_)
            QAccessible::deleteAccessibleInterface(id);
    }

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Description) return Box()->Text();
        return QAccessibleWidget::text(kind);
    }
    int childCount() const override {
        return QAccessibleWidget::childCount() + Box()->ButtonCount();
    }
    QAccessibleInterface* child(int index) const override {
        const int own = QAccessibleWidget::childCount();
        if (index < own) return QAccessibleWidget::child(index);
        const int answer = index - own;
        if (answer >= Box()->ButtonCount()) return nullptr;
        CMessageBox* box = Box();
        while (int(answers_.size()) <= answer) {
            const int i = int(answers_.size());
            answers_.push_back(RegisterPaintedButton(box, {[box, i] { return box->ButtonText(i); },
                                                           [box, i] { return box->ButtonPlace(i); },
                                                           {},
                                                           [box, i] { box->PressButton(i); }}));
        }
        return QAccessible::accessibleInterface(answers_[size_t(answer)]);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (size_t i = 0; i < answers_.size(); ++i) {
            if (QAccessible::accessibleInterface(answers_[i]) == child)
                return QAccessibleWidget::childCount() + int(i);
        }
        return QAccessibleWidget::indexOfChild(child);
    }

  private:
    CMessageBox* Box() const { return static_cast<CMessageBox*>(widget()); }
    mutable std::vector<QAccessible::Id> answers_;
};

}  // namespace

void InstallMessageBoxAccessibility() {
    InstallAccessibleFactory<CMessageBox, MessageBoxAccessible>();
}

}  // namespace halvorin
