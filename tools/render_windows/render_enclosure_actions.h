// Scenes of the enclosure actions: the System Information panel in one, two
// and three columns, following an upgrade and after a failed one, and the
// SAS zoning editor with edits not yet applied.
#pragma once

#include <QString>

namespace halvorin {

bool RenderEnclosureActions(const QString& prefix);

}  // namespace halvorin
