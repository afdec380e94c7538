// The selection and clipboard shortcuts of the program's painted entry
// fields, as the platform binds them (Ctrl+A, Ctrl+C, Ctrl+X, Ctrl+V on
// Linux). The fields select all or nothing: there is no partial selection.
#pragma once

class QKeyEvent;

namespace halvorin {

enum class EditShortcut { kNone, kSelectAll, kCopy, kCut, kPaste };

EditShortcut EditShortcutOf(const QKeyEvent& event);

}  // namespace halvorin
