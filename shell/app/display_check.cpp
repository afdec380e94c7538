#include "shell/app/display_check.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace halvorin {

namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::vector<std::string> Platforms(const std::string& list) {
    std::vector<std::string> names;
    size_t at = 0;
    while (at <= list.size()) {
        const size_t end = std::min(list.find(';', at), list.size());
        names.push_back(list.substr(at, end - at));
        at = end + 1;
    }
    return names;
}

std::string WaylandSocket(const DisplayEnvironment& e) {
    const std::string name = e.wayland_display.empty() ? "wayland-0" : e.wayland_display;
    if (name[0] == '/') return name;
    return e.runtime_dir.empty() ? "" : e.runtime_dir + "/" + name;
}

bool IsSocket(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// Empty when this platform can be tried.
std::string MissingFor(const std::string& platform, const DisplayEnvironment& e) {
    if (platform.empty()) {
        if (!e.display.empty() || !e.wayland_display.empty()) return {};
        return "no display: neither DISPLAY nor WAYLAND_DISPLAY is set";
    }
    if (platform.rfind("xcb", 0) == 0)
        return e.display.empty() ? "no X display: DISPLAY is not set (QT_QPA_PLATFORM=xcb)" : "";
    if (platform.rfind("wayland", 0) == 0) {
        const std::string socket = WaylandSocket(e);
        if (IsSocket(socket)) return {};
        return "no Wayland compositor" +
               (socket.empty() ? std::string(" (XDG_RUNTIME_DIR is not set)") : " at " + socket) +
               " (QT_QPA_PLATFORM=" + platform + ")";
    }
    return {};  // offscreen, minimal, vnc, eglfs, ...: nothing to find first
}

}  // namespace

DisplayEnvironment CurrentDisplayEnvironment(int argc, char** argv) {
    DisplayEnvironment e{Variable("QT_QPA_PLATFORM"), Variable("DISPLAY"),
                         Variable("WAYLAND_DISPLAY"), Variable("XDG_RUNTIME_DIR")};
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "-platform") || !std::strcmp(argv[i], "--platform"))
            e.platform = argv[i + 1];
    }
    return e;
}

std::string MissingDisplay(const DisplayEnvironment& environment) {
    std::string first_problem;
    for (const std::string& platform : Platforms(environment.platform)) {
        const std::string problem = MissingFor(platform, environment);
        if (problem.empty()) return {};
        if (first_problem.empty()) first_problem = problem;
    }
    return first_problem;
}

}  // namespace halvorin
