// Whether the toolkit will find a display, decided from the environment
// before it starts: Qt ends the process with an abort (status 134) when the
// platform it is told to use has nothing to connect to.
#pragma once

#include <string>

namespace halvorin {

struct DisplayEnvironment {
    std::string platform;         // -platform, else QT_QPA_PLATFORM; may list fallbacks "a;b"
    std::string display;          // DISPLAY
    std::string wayland_display;  // WAYLAND_DISPLAY
    std::string runtime_dir;      // XDG_RUNTIME_DIR, where Wayland sockets live
};

// The process's, with a "-platform NAME" among the arguments winning.
DisplayEnvironment CurrentDisplayEnvironment(int argc, char** argv);

// Empty when a display can be tried; otherwise what is missing, in words
// for the operator.
std::string MissingDisplay(const DisplayEnvironment& environment);

}  // namespace halvorin
