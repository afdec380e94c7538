#include "shell/events/standing_events_file.h"

#include <fstream>

#include "base/atomic_file.h"
#include "base/utf16.h"

namespace halvorin {

namespace {

std::string PathIn(const std::string& directory) {
    return directory + "/standing";
}

// Tabs and line ends would cut a line where it does not end.
std::string OneLine(const std::u16string& text) {
    std::string line = Utf16ToUtf8(text);
    for (char& c : line)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return line;
}

}  // namespace

std::set<StandingEvent> ReadStandingEvents(const std::string& directory) {
    std::set<StandingEvent> events;
    std::ifstream file(PathIn(directory));
    std::string line;
    while (std::getline(file, line)) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos || tab == 0 || tab + 1 == line.size()) continue;
        events.emplace(Utf8ToUtf16(line.substr(0, tab)), Utf8ToUtf16(line.substr(tab + 1)));
    }
    return events;
}

bool WriteStandingEvents(const std::string& directory, const StandingEvents& now,
                         std::string& error) {
    std::set<StandingEvent> kept = now.events;
    for (const StandingEvent& before : ReadStandingEvents(directory))
        if (!now.enclosures.contains(before.first)) kept.insert(before);
    std::string content;
    for (const auto& [enclosure, text] : kept)
        content += OneLine(enclosure) + '\t' + OneLine(text) + '\n';
    return WriteFileAtomically(PathIn(directory), content, error);
}

}  // namespace halvorin
