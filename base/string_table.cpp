#include "base/string_table.h"

#include <charconv>
#include <mutex>

#include "base/utf16.h"

namespace halvorin {

namespace {

std::mutex& LookupMutex() {
    static std::mutex mutex;
    return mutex;
}

StringLookup& Lookup() {
    static StringLookup lookup;
    return lookup;
}

std::string Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        out += next == 'n' ? '\n' : next == 't' ? '\t' : next;
    }
    return out;
}

bool ParseLine(std::string_view line, ParsedStringTable& table) {
    const size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return false;
    int id = 0;
    const auto [end, error] = std::from_chars(line.data(), line.data() + tab, id);
    if (error != std::errc() || end != line.data() + tab || id < 0) return false;
    const std::string text = Unescape(line.substr(tab + 1));
    if (!IsValidUtf8(text)) return false;
    table.texts[id] = Utf8ToUtf16(text);
    return true;
}

const std::map<int, std::u16string>& EnglishTexts() {
    static const std::map<int, std::u16string> texts =
        ParseStringTable(EnglishStringTableText()).texts;
    return texts;
}

}  // namespace

ParsedStringTable ParseStringTable(std::string_view utf8) {
    ParsedStringTable table;
    while (!utf8.empty()) {
        const size_t newline = utf8.find('\n');
        std::string_view line = utf8.substr(0, newline);
        utf8.remove_prefix(newline == std::string_view::npos ? utf8.size() : newline + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;
        if (!ParseLine(line, table)) ++table.bad_lines;
    }
    return table;
}

std::u16string CoreEnglishString(int id) {
    auto it = EnglishTexts().find(id);
    return it == EnglishTexts().end() ? std::u16string() : it->second;
}

void SetStringLookup(StringLookup lookup) {
    std::lock_guard lock(LookupMutex());
    Lookup() = std::move(lookup);
}

std::u16string LoadString(int id) {
    std::lock_guard lock(LookupMutex());
    return Lookup() ? Lookup()(id) : CoreEnglishString(id);
}

}  // namespace halvorin
