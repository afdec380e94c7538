#include "shell/widgets/edit_shortcut.h"

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

}  // namespace halvorin
