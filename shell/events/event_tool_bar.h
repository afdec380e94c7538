// CEventToolBar (window class "EventToolBar"): the title bar of the event
// pane, "Device Event" with the button that switches editing on (251) and
// off (247).
#pragma once

#include "shell/widgets/pane_tool_bar.h"

namespace halvorin {

class CEventToolBar : public CPaneToolBar {
    Q_OBJECT

  public:
    static constexpr const char* kWindowClass = "EventToolBar";
    explicit CEventToolBar(QWidget* parent = nullptr);
};

}  // namespace halvorin
