#include "shell/theme/string_resources.h"

#include <map>
#include <memory>

#include "base/string_table.h"
#include "shell/theme/interface_language.h"
#include "shell/theme/theme_resources.h"

namespace halvorin {

namespace {

ParsedStringTable ReadTable(const QString& language) {
    const auto bytes = ReadResource("strings/" + language + ".tsv");
    if (!bytes) return {};
    return ParseStringTable(std::string_view(bytes->constData(), size_t(bytes->size())));
}

}  // namespace

int InstallStringTables() {
    const QString language = InterfaceLanguage();
    auto english = std::make_shared<ParsedStringTable>(ReadTable("en"));
    auto chosen =
        language == "en" ? english : std::make_shared<ParsedStringTable>(ReadTable(language));
    const int bad_lines = english->bad_lines + (chosen == english ? 0 : chosen->bad_lines);
    SetStringLookup([english, chosen](int id) -> std::u16string {
        if (auto it = chosen->texts.find(id); it != chosen->texts.end()) return it->second;
        if (auto it = english->texts.find(id); it != english->texts.end()) return it->second;
        return {};
    });
    return bad_lines;
}

QString LoadQString(int id) {
    return QString::fromStdU16String(LoadString(id));
}

QString LoadCommandTip(int id) {
    return LoadQString(id).section('\n', -1);
}

}  // namespace halvorin
