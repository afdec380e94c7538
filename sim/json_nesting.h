// How deep a JSON text nests, counted before it is parsed: the parsed tree
// is copied and destroyed recursively, so a deep enough file would
// overflow the stack.
#pragma once

#include <cstddef>
#include <string_view>

namespace halvorin::sim {

// Scenario and capture files travel with bug reports: a file nested deeper
// than this is refused before it is parsed.
inline constexpr size_t kMaxJsonNesting = 64;

// How deep arrays and objects nest in JSON text (brackets inside strings do
// not count); counting stops once it passes `stop_above`.
size_t JsonNestingDepth(std::string_view text, size_t stop_above);

}  // namespace halvorin::sim
