// Whether a window manager looks after the top-level windows. On X11 there
// may be none (a bare X server, a kiosk session): then nothing maximises a
// window but the program itself. Every other platform the program runs on
// (Wayland compositors, the offscreen platform of the tests) has one.
#pragma once

namespace halvorin {

// Asked afresh each time: a window manager may start or stop meanwhile.
bool WindowManagerIsRunning();

}  // namespace halvorin
