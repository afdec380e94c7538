// Where the window renderer's pictures go, and how a scene waits for the
// model it shows.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>

namespace halvorin {

// Saves what the widget shows now; prints the path, or says why it failed.
bool SaveWidget(QWidget& widget, const QString& path);

// The widget as it looks on screen: what its mask cuts away is transparent.
QImage ShapedSnapshot(QWidget& widget);

// The scenes' agents listen on fixed ports, below the range the kernel hands
// out for port 0, so that the host names in the pictures are the same from
// run to run (and no test's agent can hold them).
inline constexpr uint16_t kMainWindowAgentPort = 16000;
inline constexpr uint16_t kLeftPaneAgentPorts[] = {16024, 16084};

// Runs the event loop until `done` or the time limit; true when done.
bool WaitFor(const std::function<bool()>& done, int limit_ms = 10000);

}  // namespace halvorin
