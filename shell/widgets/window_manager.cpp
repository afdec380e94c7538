#include "shell/widgets/window_manager.h"

#include <QGuiApplication>

#ifdef HALVORIN_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#endif

namespace halvorin {

namespace {

#ifdef HALVORIN_HAVE_XCB
struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

// An EWMH window manager names its check window on the root window; a bare
// X server has no such property.
bool X11HasWindowManager(xcb_connection_t* connection) {
    constexpr const char* kCheck = "_NET_SUPPORTING_WM_CHECK";
    Reply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, std::strlen(kCheck), kCheck), nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE) return false;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen) return false;
    Reply<xcb_get_property_reply_t> property(xcb_get_property_reply(
        connection,
        xcb_get_property(connection, 0, screen->root, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr));
    return property && xcb_get_property_value_length(property.get()) > 0;
}
#endif

}  // namespace

bool WindowManagerIsRunning() {
#ifdef HALVORIN_HAVE_XCB
    // Only the X11 platform itself: the offscreen one answers for X11 too,
    // without a connection.
    if (!qGuiApp || QGuiApplication::platformName() != "xcb") return true;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 && x11->connection()) return X11HasWindowManager(x11->connection());
#endif
    return true;
}

}  // namespace halvorin
