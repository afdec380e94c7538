#include "shell/widgets/edit_shortcut.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>

namespace halvorin {

EditShortcut EditShortcutOf(const QKeyEvent& event) {
    if (event.matches(QKeySequence::SelectAll)) return EditShortcut::kSelectAll;
    if (event.matches(QKeySequence::Copy)) return EditShortcut::kCopy;
    if (event.matches(QKeySequence::Cut)) return EditShortcut::kCut;
    if (event.matches(QKeySequence::Paste)) return EditShortcut::kPaste;
    return EditShortcut::kNone;
}

bool ApplyEditShortcut(EditShortcut shortcut, QString& text, int& caret, bool& all_selected,
                       const std::function<void(const QString&)>& insert) {
    const auto clear = [&] {
        text.clear();
        caret = 0;
        all_selected = false;
    };
    switch (shortcut) {
        case EditShortcut::kSelectAll:
            all_selected = !text.isEmpty();
            caret = int(text.size());
            return true;
        case EditShortcut::kCopy:
            if (all_selected) QGuiApplication::clipboard()->setText(text);
            return true;
        case EditShortcut::kCut:
            if (all_selected) {
                QGuiApplication::clipboard()->setText(text);
                clear();
            }
            return true;
        case EditShortcut::kPaste:
            if (all_selected) clear();
            insert(QGuiApplication::clipboard()->text().section('\n', 0, 0));
            return true;
        case EditShortcut::kNone:
            return false;
    }
    return false;
}

}  // namespace halvorin
