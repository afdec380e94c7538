// SIGINT and SIGTERM end every halvorinctl command at any point. The handler
// sets a flag that every wait looks at, and writes to a pipe, so that a wait
// in poll() (the confirmation question above all) ends even when the signal
// came just before the wait began.
#pragma once

#include <atomic>
#include <optional>
#include <string>

namespace halvorin::ctl {

// Installs the handlers (without SA_RESTART) and makes the pipe.
void CatchStopSignals();
// Set once a stop signal has arrived.
const std::atomic<bool>& StopRequested();
// The signal that arrived (SIGINT or SIGTERM), 0 before.
int StopSignalNumber();
// One line read from standard input, without its line end; nothing when a
// stop signal arrives before it (or came before the call) and at the end of
// the input with nothing read.
std::optional<std::string> ReadLineUnlessStopped();

}  // namespace halvorin::ctl
