#include "shell/theme/interface_language.h"

namespace halvorin {

namespace {

std::optional<QLocale>& ChosenLocale() {
    static std::optional<QLocale> locale;
    return locale;
}

// "zh-Hant-TW", "zh-HK" -> zh_TW; other Chinese -> zh_CN; else the language.
QString TableForLanguageTag(const QString& tag) {
    const QStringList parts = QString(tag).replace('_', '-').split('-');
    const QString language = parts.value(0).toLower();
    if (language != "zh") return language;
    for (const QString& part : parts.mid(1)) {
        if (part == "Hant" || part == "TW" || part == "HK" || part == "MO") return "zh_TW";
    }
    return "zh_CN";
}

}  // namespace

QStringList SupportedLanguages() {
    return {"en", "zh_TW", "zh_CN", "ja", "ko", "de", "fr", "es", "ru"};
}

QString LanguageForLocale(const QLocale& locale) {
    for (const QString& tag : locale.uiLanguages()) {
        const QString table = TableForLanguageTag(tag);
        if (SupportedLanguages().contains(table)) return table;
    }
    return "en";
}

QString InterfaceLanguage() {
    return LanguageForLocale(ChosenLocale().value_or(QLocale::system()));
}

void SetInterfaceLocale(std::optional<QLocale> locale) {
    ChosenLocale() = std::move(locale);
}

}  // namespace halvorin
