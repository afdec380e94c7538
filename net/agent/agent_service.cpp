#include "net/agent/agent_service.h"

#include <memory>
#include <mutex>

#include "base/result_code.h"
#include "net/agent/agent_server.h"

namespace halvorin {

namespace {

struct Service {
    std::mutex mutex;
    std::unique_ptr<AgentServer> server;
    std::string start_error;
    // Kept across a stop and a start so the UI need not set them again.
    std::vector<std::u16string> authorized;
    ServerNotifyFn notify = nullptr;
    void* notify_context = nullptr;
};

Service& TheService() {
    static Service service;
    return service;
}

}  // namespace

int ServerStart(uint16_t port) {
    AgentOptions options;
    options.port = port;
    return ServerStart(options);
}

int ServerStart(const AgentOptions& options) {
    Service& s = TheService();
    std::lock_guard lock(s.mutex);
    if (s.server) return kOk;
    auto server = std::make_unique<AgentServer>(ProcessTransport(), options);
    server->SetAuthorized(s.authorized);
    server->SetNotify(s.notify, s.notify_context);
    const int result = server->Start();
    if (result != kOk) {
        s.start_error = server->StartError();
        return result;
    }
    s.server = std::move(server);
    return kOk;
}

size_t ServerStop() {
    std::unique_ptr<AgentServer> server;
    {
        Service& s = TheService();
        std::lock_guard lock(s.mutex);
        server = std::move(s.server);
    }
    if (!server) return 0;
    const size_t busy = server->Stop();
    // A command still in the kernel goes on using the server; the process is
    // ending, so the server is left to it rather than waited for.
    if (busy > 0) (void)server.release();
    return busy;
}

std::string ServerStartError() {
    Service& s = TheService();
    std::lock_guard lock(s.mutex);
    return s.start_error;
}

uint16_t ServerPort() {
    Service& s = TheService();
    std::lock_guard lock(s.mutex);
    return s.server ? s.server->port() : 0;
}

int ServerSetAuthorized(std::vector<std::u16string> names) {
    Service& s = TheService();
    std::lock_guard lock(s.mutex);
    s.authorized = names;
    return s.server ? s.server->SetAuthorized(std::move(names)) : kOk;
}

void ServerSetNotify(ServerNotifyFn fn, void* context) {
    Service& s = TheService();
    std::lock_guard lock(s.mutex);
    s.notify = fn;
    s.notify_context = context;
    if (s.server) s.server->SetNotify(fn, context);
}

void ServerClearNotify(void* context) {
    Service& s = TheService();
    std::lock_guard lock(s.mutex);
    if (s.notify_context != context) return;
    s.notify = nullptr;
    s.notify_context = nullptr;
    if (s.server) s.server->SetNotify(nullptr, nullptr);
}

}  // namespace halvorin
