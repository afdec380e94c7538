// One subcommand of halvorinctl, described where it is implemented: how the
// help writes it, which options it takes beyond the common ones (hosts,
// timeout, --wait, TLS), a check of its words that runs before any host is
// asked, and what runs it. main finds the command here and only dispatches.
#pragma once

#include <string>
#include <vector>

#include "apps/halvorinctl/command_line.h"
#include "apps/halvorinctl/manager_session.h"

namespace halvorin::ctl {

struct Command {
    const char* name;
    const char* synopsis;  // its lines in the help
    std::vector<int> options;
    // The usage error its words make; empty when they are right.
    std::string (*check)(const CommandLine& line);
    int (*run)(ManagerSession& session, const CommandLine& line);
};

// Every command, in the order the help lists them.
const std::vector<const Command*>& Commands();
const Command* FindCommand(const std::string& name);
// The check of a command that takes no words after its name.
std::string TakesNoWords(const CommandLine& line);

}  // namespace halvorin::ctl
