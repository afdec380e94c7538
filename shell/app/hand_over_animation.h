// The hand-over between the manager's window and the agent's tray icon: an
// outline that flies from one rectangle to the other, like the caption
// animation of desktops that have one. It runs on its own and does not hold
// up the switch.
#pragma once

#include <QRect>

class QSystemTrayIcon;

namespace halvorin {

inline constexpr int kHandOverMs = 250;

// Starts the outline's flight from `from` to `to` (global coordinates); it
// deletes itself when it lands.
void AnimateHandOver(const QRect& from, const QRect& to);

// Where the notification area is: the icon's own place when the tray tells
// it, else a small rectangle near the bottom right of the screen.
QRect TrayIconPlace(const QSystemTrayIcon* icon);

}  // namespace halvorin
