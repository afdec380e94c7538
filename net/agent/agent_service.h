// The process-wide agent server that every instance of the program runs, on
// the machine's SCSI transport.
#pragma once

#include <string>
#include <vector>

#include "net/agent/agent_notify.h"
#include "net/protocol/wire_format.h"

namespace halvorin {

struct AgentOptions;

// 0 (also when already started) or -6; ServerStartError() says why.
int ServerStart(uint16_t port = kDefaultAgentPort);
int ServerStart(const AgentOptions& options);
// Stops the server; the number of SCSI commands still running in the kernel,
// which the caller should not wait for (see AgentServer::Stop).
size_t ServerStop();
std::string ServerStartError();
uint16_t ServerPort();

// Replaces the authorised client names; 0.
int ServerSetAuthorized(std::vector<std::u16string> names);
// Registers the user interface's callback, or removes it with nullptr.
void ServerSetNotify(ServerNotifyFn fn, void* context);
// Removes the callback only if `context` registered the current one, so a
// window that goes after its successor registered leaves the successor's.
// No call of the callback runs any more once this returns.
void ServerClearNotify(void* context);

}  // namespace halvorin
