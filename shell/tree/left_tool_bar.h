// CLeftToolBar (window class "LeftToolBar"): the title bar of the left
// pane, "Storage Server:" with the button that switches server editing on
// (246) and off (247).
#pragma once

#include "shell/widgets/pane_tool_bar.h"

namespace halvorin {

class CLeftToolBar : public CPaneToolBar {
    Q_OBJECT

  public:
    static constexpr const char* kWindowClass = "LeftToolBar";
    explicit CLeftToolBar(QWidget* parent = nullptr);
};

}  // namespace halvorin
