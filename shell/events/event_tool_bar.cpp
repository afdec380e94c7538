#include "shell/events/event_tool_bar.h"

namespace halvorin {

namespace {

CPaneToolBar::Setup EventToolBarSetup() {
    return {CEventToolBar::kWindowClass,
            150,  // "Device Event"
            LoadThemeColor(602, Rgb(62, 59, 67)),
            LoadThemeColor(599, Rgb(67, 160, 174)),
            251,
            247};
}

}  // namespace

CEventToolBar::CEventToolBar(QWidget* parent) : CPaneToolBar(EventToolBarSetup(), parent) {}

}  // namespace halvorin
