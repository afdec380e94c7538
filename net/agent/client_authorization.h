// Who may talk to the agent, and who does. Holds the authorised names, the
// current connection and the name it was authorised with, all under one lock;
// the notification callback runs with that lock held, as the agent window
// expects.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/agent/agent_connection.h"
#include "net/agent/agent_notify.h"

namespace halvorin {

class ClientAuthorization {
  public:
    // own_names: this computer's names. A hello with one of them is accepted
    // only from this host, since anyone on the network could claim it.
    explicit ClientAuthorization(std::vector<std::u16string> own_names);

    void SetNotify(ServerNotifyFn fn, void* context);

    // Installs a new list. When the current client is no longer on it (any
    // letter case counts), it is reported gone and its connection shut down.
    void SetAuthorized(std::vector<std::u16string> names);

    // The receiver accepted a connection; it becomes the current one.
    void ConnectionAccepted(std::shared_ptr<AgentConnection> connection);
    // The receiver dropped a connection: the recorded name goes with it.
    void ConnectionDropped(const AgentConnection& connection);

    // Whether a hello with this name from this connection would be authorised,
    // without recording anything (a connection waiting for its turn).
    bool MayConnect(const std::u16string& name, const AgentConnection& connection) const;

    // Checks a hello from a connection. On success the name is recorded as the
    // current client's and reported (kind 0).
    bool Authorize(const std::u16string& name, const std::shared_ptr<AgentConnection>& connection);

    std::u16string CurrentClient() const;
    std::vector<std::u16string> AuthorizedNames() const;

  private:
    bool IsListed(const std::u16string& name) const;
    bool IsOwnName(const std::u16string& name) const;
    void NotifyLocked(AgentNotifyKind kind, const std::u16string& name,
                      const AgentConnection* connection) const;

    const std::vector<std::u16string> own_names_;
    mutable std::mutex mutex_;
    std::vector<std::u16string> authorized_;
    std::shared_ptr<AgentConnection> current_;
    std::u16string current_name_;  // empty until a hello on current_ is authorised
    ServerNotifyFn notify_ = nullptr;
    void* context_ = nullptr;
};

}  // namespace halvorin
