// The left column scenes of the window renderer: the left pane with three
// hosts (one unreachable, one with a 24-bay enclosure, one with the
// dual-path 84-bay one) in normal and editing mode, and the event pane with
// thirty events of every level, long messages, last year's events and an
// armed row.
#pragma once

#include <QString>

namespace halvorin {

// Writes the scenes of the current language under `prefix`; false when a
// scene could not be made or saved.
bool RenderLeftColumn(const QString& prefix);

}  // namespace halvorin
