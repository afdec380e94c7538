// What screen readers and GUI test tools see of a painted list: a list whose
// items are its rows, each with the text the row shows, its state, and a
// press action where the row has one.
#pragma once

namespace halvorin {

// Registers the accessibility factory of CPaintedList; once per process.
void InstallPaintedListAccessibility();

}  // namespace halvorin
