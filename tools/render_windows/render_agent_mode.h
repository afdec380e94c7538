// The agent-mode scenes of the window renderer: the agent window with three
// authorised clients of which one is connected, with none, while a refused
// name is explained, and as the ordinary window of a desktop without a
// notification area.
#pragma once

#include <QString>

namespace halvorin {

bool RenderAgentMode(const QString& prefix);

}  // namespace halvorin
