// What screen readers see of the host entry: an editable text field named by
// its placeholder, whose value is the name typed, with the "+" button that
// adds the host as its child.
#pragma once

namespace halvorin {

// Registers the accessibility factory of CServerEditBar; once per process.
void InstallServerEditBarAccessibility();

}  // namespace halvorin
