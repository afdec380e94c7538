// The language whose string table and FONTSIZE copy the program uses: the
// first of the user's interface languages that the program has a table for,
// else English.
#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>
#include <optional>

namespace halvorin {

// The table names: "en", "zh_TW", "zh_CN", "ja", "ko", "de", "fr", "es", "ru".
QStringList SupportedLanguages();

// The table for a locale's interface languages.
QString LanguageForLocale(const QLocale& locale);

// The program's language: from QLocale::system(), unless a locale was set.
QString InterfaceLanguage();
void SetInterfaceLocale(std::optional<QLocale> locale);

}  // namespace halvorin
