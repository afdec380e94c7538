// The user-visible texts by string id. The desktop application installs its
// translated tables at start-up; without them the English texts the core
// needs serve headless programs. A missing id gives an empty string.
#pragma once

#include <functional>
#include <string>

namespace halvorin {

using StringLookup = std::function<std::u16string(int id)>;

void SetStringLookup(StringLookup lookup);
std::u16string LoadString(int id);

// The English texts of the ids the core uses.
std::u16string CoreEnglishString(int id);

}  // namespace halvorin
