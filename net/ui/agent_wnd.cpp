#include "net/ui/agent_wnd.h"

#include <QMenu>
#include <QSystemTrayIcon>

#include "shell/theme/application_icon.h"
#include "shell/theme/string_resources.h"

namespace halvorin {

namespace {

constexpr int kManagerModeCommand = 253;

}  // namespace

CAgentWnd::CAgentWnd(const QString& title) {
    setObjectName(kWindowClass);
    setWindowTitle(title);
    setFixedSize(240, 300);
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    tray_icon_ = new QSystemTrayIcon(ApplicationIcon(), this);
    tray_icon_->setToolTip(title);
    auto* menu = new QMenu(this);  // owned by this window
    const QString back = LoadCommandTip(kManagerModeCommand);
    menu->addAction(back, this, [this] { emit Command(kManagerModeCommand); });
    tray_icon_->setContextMenu(menu);
    tray_icon_->show();
}

CAgentWnd::~CAgentWnd() = default;

}  // namespace halvorin
