// The selection and clipboard shortcuts of the program's painted entry
// fields, as the platform binds them (Ctrl+A, Ctrl+C, Ctrl+X, Ctrl+V on
// Linux). The fields select all or nothing: there is no partial selection.
#pragma once

#include <QString>
#include <functional>

class QKeyEvent;

namespace halvorin {

enum class EditShortcut { kNone, kSelectAll, kCopy, kCut, kPaste };

EditShortcut EditShortcutOf(const QKeyEvent& event);

// Carries out `shortcut` on a one-line field's text, caret and all-or-
// nothing selection; `insert` takes the clipboard's first line as typing
// would (the field's own limits). False for kNone.
bool ApplyEditShortcut(EditShortcut shortcut, QString& text, int& caret, bool& all_selected,
                       const std::function<void(const QString&)>& insert);

}  // namespace halvorin
