// The user-visible texts by string id. The desktop application installs the
// table of the user's language at start-up; without it the English table,
// compiled in, serves headless programs. A missing id gives an empty string.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace halvorin {

using StringLookup = std::function<std::u16string(int id)>;

void SetStringLookup(StringLookup lookup);
std::u16string LoadString(int id);

// The English text of an id, from the compiled-in table.
std::u16string CoreEnglishString(int id);

// A string table as text: one "id<TAB>text" per line, '#' starts a comment
// line, "\n", "\t" and "\\" in a text are a line feed, a tab and a
// backslash. Lines that do not parse are counted, not guessed at.
struct ParsedStringTable {
    std::map<int, std::u16string> texts;
    int bad_lines = 0;
};
ParsedStringTable ParseStringTable(std::string_view utf8);

// The English table's text (res/strings/en.tsv).
std::string_view EnglishStringTableText();

}  // namespace halvorin
