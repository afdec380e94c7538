#include "apps/halvorinctl/command.h"

namespace halvorin::ctl {

// Each is defined in the file that implements the command.
extern const Command kCommandShow, kCommandWatch, kCommandMetrics, kCommandCapture, kCommandIdent,
    kCommandMute, kCommandUidLed, kCommandRename, kCommandZoning, kCommandRestart, kCommandShutdown,
    kCommandUpgrade;

const std::vector<const Command*>& Commands() {
    static const std::vector<const Command*> commands = {
        &kCommandShow,   &kCommandWatch,   &kCommandMetrics,  &kCommandCapture,
        &kCommandIdent,  &kCommandMute,    &kCommandUidLed,   &kCommandRename,
        &kCommandZoning, &kCommandRestart, &kCommandShutdown, &kCommandUpgrade,
    };
    return commands;
}

std::string TakesNoWords(const CommandLine& line) {
    return line.words.size() > 1 ? line.words[0] + " takes no words, not \"" + line.words[1] + "\""
                                 : "";
}

const Command* FindCommand(const std::string& name) {
    for (const Command* command : Commands())
        if (name == command->name) return command;
    return nullptr;
}

}  // namespace halvorin::ctl
