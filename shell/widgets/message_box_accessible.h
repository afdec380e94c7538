// What screen readers see of the message box: a dialog named by its title,
// its text as description, and its painted answer buttons as push buttons.
#pragma once

namespace halvorin {

// Registers the accessibility factory of CMessageBox; once per process.
void InstallMessageBoxAccessibility();

}  // namespace halvorin
