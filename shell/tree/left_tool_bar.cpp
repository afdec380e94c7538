#include "shell/tree/left_tool_bar.h"

namespace halvorin {

namespace {

CPaneToolBar::Setup LeftToolBarSetup() {
    return {CLeftToolBar::kWindowClass,
            1,  // "Storage Server:"
            LoadThemeColor(445, Rgb(51, 102, 204)),
            LoadThemeColor(446, Rgb(67, 160, 174)),
            246,
            247};
}

}  // namespace

CLeftToolBar::CLeftToolBar(QWidget* parent) : CPaneToolBar(LeftToolBarSetup(), parent) {}

}  // namespace halvorin
