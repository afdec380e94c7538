// What screen readers see of a flat toolbar button: a push button named by
// its text or tool tip, whose press action clicks it.
#pragma once

namespace halvorin {

// Registers the accessibility factory of CFlatToolButton; once per process.
void InstallFlatToolButtonAccessibility();

}  // namespace halvorin
