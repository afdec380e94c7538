// The enclosure view scenes of the window renderer: the simulator's 24-bay
// and 84-bay enclosures after two hours of history, with a failed power
// supply, a slowed fan, a hot sensor, a slot's identification LED on and
// empty slots.
#pragma once

#include <QString>

namespace halvorin {

// Writes the scenes of the current language under `prefix`; false when a
// scene could not be made or saved.
bool RenderEnclosureViews(const QString& prefix);

}  // namespace halvorin
