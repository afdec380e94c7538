#include "views/modal_operation.h"

#include <QEventLoop>
#include <QPointer>
#include <memory>

#include "base/result_code.h"
#include "enclosure/statuswnd/status_wnd.h"
#include "shell/widgets/application_window.h"
#include "shell/widgets/focus_keeper.h"

namespace halvorin {

namespace {

// What the callback and the waiting loop share; the callback may come after
// the wait was given up, so it must not point into the waiting frame.
struct Completion {
    bool done = false;
    int result = kClosing;
    QPointer<QEventLoop> loop;
};

int modal_operations = 0;  // interface thread only

}  // namespace

int ModalOperationsRunning() {
    return modal_operations;
}

int RunModalOperation(QWidget* owner, int text_id,
                      const std::function<int(OperationCallback)>& start) {
    auto completion = std::make_shared<Completion>();
    const FocusKeeper keyboard;  // declared first: it acts last, once the window is enabled
    QPointer<CStatusWnd> status = CStatusWnd::ShowStatus(text_id, owner, CStatusWnd::kUntimed);
    QPointer<QWidget> window = ApplicationWindow();
    const bool was_enabled = window && window->isEnabled();
    if (window) window->setEnabled(false);

    const int started = start([completion](int result) {
        completion->done = true;
        completion->result = result;
        if (completion->loop) completion->loop->quit();
    });
    if (started >= 0 && !completion->done) {
        QEventLoop loop;
        completion->loop = &loop;
        ++modal_operations;
        loop.exec();
        --modal_operations;
    }
    if (window && was_enabled) window->setEnabled(true);
    if (status) status->close();
    if (started < 0) return started;
    return completion->done ? completion->result : kClosing;
}

}  // namespace halvorin
