// The desktop program's string tables: the interface language's table,
// with the English one behind it for ids the language lacks. A missing id
// gives an empty string.
#pragma once

#include <QString>

namespace halvorin {

// Reads the tables from the resources and makes them the process's string
// lookup (LoadString). Returns the number of lines that did not parse.
int InstallStringTables();

QString LoadQString(int id);

// A command's text is "prompt\ntool tip": the tool tip part (the whole text
// when it has no line feed).
QString LoadCommandTip(int id);

}  // namespace halvorin
