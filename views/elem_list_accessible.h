// What screen readers and GUI test tools see of the element list: a list
// whose items are its rows, each with the text the row shows (group title,
// element name, state, reading).
#pragma once

namespace halvorin {

// Registers the accessibility factory of CElemListBox; once per process.
void InstallElemListAccessibility();

}  // namespace halvorin
