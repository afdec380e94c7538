// What screen readers see of the program's own top-level windows (they are
// frameless widgets, which would read as unnamed fillers): a window, or a
// dialog for the message box, named by its title.
#pragma once

namespace halvorin {

// Registers the accessibility factory of the program's windows; once per process.
void InstallWindowAccessibility();

}  // namespace halvorin
