// The resources compiled into the program under ":/res".
#pragma once

namespace halvorin {

// Whether the English string table is there: false means the program was
// linked without its resources, and every lookup falls back to defaults.
bool ResourcesCompiledIn();

}  // namespace halvorin
