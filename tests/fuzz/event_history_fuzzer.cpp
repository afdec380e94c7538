// Feeds arbitrary bytes to the event history reader as the newest log file
// of a history folder: a damaged or foreign file must lose nothing else and
// crash nothing.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "shell/events/event_log.h"

using namespace halvorin;

namespace {

const std::string& HistoryFolder() {
    static const std::string folder = [] {
        char name[] = "/tmp/halvorin-fuzz-history-XXXXXX";
        const char* made = mkdtemp(name);
        if (!made) std::abort();
        return std::string(made);
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& folder = HistoryFolder();
    {
        std::ofstream file(EventLogPath(folder, 0), std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    for (const EventEntry& entry : ReadEventHistory(folder, 200)) {
        // What was read writes back as one line that reads the same.
        const std::string line = EventLogLine(entry);
        if (line.find('\n') != std::string::npos || !ParseEventLogLine(line)) __builtin_trap();
    }
    return 0;
}
