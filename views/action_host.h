// ActionHost: what the System Information panel and the zoning editor need
// of the list that shows them. They act on the enclosure the list shows,
// wait for their operations the way every operation is waited for, and have
// the rows they changed painted again; the list does each of these once, for
// both of them and for its own rows.
#pragma once

#include <functional>

#include "enclosure/ops/control_operations.h"

class QDialog;
class QWidget;

namespace halvorin {

class CSubEnc;

class ActionHost {
  public:
    // The enclosure shown (none on the dashboard).
    virtual CSubEnc* Subject() const = 0;
    // True while an operation or a dialog waits in its modal loop: clicks
    // then do nothing.
    virtual bool Waiting() const = 0;
    // Runs the operation `start` sends, with `text_id` shown meanwhile; its result.
    virtual int RunOperation(int text_id, const std::function<int(OperationCallback)>& start) = 0;
    // Runs a dialog modally; whether it was accepted.
    virtual bool RunDialog(QDialog& dialog) = 0;
    // The model changed: the rows compare themselves with it and repaint.
    virtual void Refresh() = 0;
    // The rows marked dirty are painted again.
    virtual void RepaintDirtyRows() = 0;
    // The System Information panel's row is painted again.
    virtual void RepaintPanel() = 0;
    // The operator renamed `subenc`.
    virtual void SubjectRenamed(CSubEnc* subenc) = 0;
    // Where dialogs and status windows open.
    virtual QWidget& Window() = 0;

  protected:
    ~ActionHost() = default;
};

}  // namespace halvorin
