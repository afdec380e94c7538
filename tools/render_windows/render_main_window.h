// The main window scenes of the window renderer: the demo's enclosures on
// the dashboard, the 24-bay demo enclosure with its power supplies open,
// the About window over it, and the caption bar with a button under the
// pointer.
#pragma once

#include <QString>

namespace halvorin {

bool RenderMainWindow(const QString& prefix);

}  // namespace halvorin
