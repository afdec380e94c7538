// Who may talk to the agent, and who does. Holds the allow list (names,
// addresses, networks) and the managers being served, all under one lock;
// the notification callback runs with that lock held, as the agent window
// expects.
//
// A hello is admitted on facts where they exist: a peer whose address an
// address or network entry covers; this computer's own name from this host.
// A listed name from elsewhere is only a claim: it needs a name check (the
// name resolves to the peer and the peer's address back to the name) unless
// the manager's TLS certificate carries the name as its common name, or
// claimed names are accepted.
#pragma once

#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/agent/agent_connection.h"
#include "net/agent/agent_notify.h"
#include "net/agent/allow_entry.h"

namespace halvorin {

enum class Admission {
    kRefused,
    kAdmitted,
    kNeedsNameCheck,  // a listed name from another host: check it, then Authorize
};

// A manager being served, for "busy" answers and the agent's log.
struct ServedManager {
    std::u16string name;
    std::string peer;  // address:port
    std::time_t since = 0;
};

class ClientAuthorization {
  public:
    // own_names: this computer's names. A hello with one of them is accepted
    // only from this host, since anyone on the network could claim it.
    ClientAuthorization(std::vector<std::u16string> own_names, bool accept_claimed_names);

    void SetNotify(ServerNotifyFn fn, void* context);

    // Installs a new list; entries that are neither names nor addresses are
    // dropped (and logged). Managers no longer allowed are reported gone and
    // their connections shut down.
    void SetAuthorized(std::vector<std::u16string> entries);

    // Decides a hello from what is known at once; records nothing.
    Admission Admit(const std::u16string& name, const AgentConnection& connection) const;

    // Records an admitted hello (after its name check, where one was needed)
    // as a served manager and reports it (kind 0). False when the list
    // changed meanwhile and no longer admits it.
    bool Authorize(const std::u16string& name, const std::shared_ptr<AgentConnection>& connection);
    // The receiver dropped a connection: its manager goes with it.
    void ConnectionDropped(const AgentConnection& connection);

    // The name of the longest-served manager; empty when none.
    std::u16string CurrentClient() const;
    std::vector<ServedManager> Served() const;
    std::vector<std::u16string> AuthorizedNames() const;
    // The entries in force and the rule for names, for the agent's start line.
    std::string RulesText() const;

  private:
    struct Client {
        std::shared_ptr<AgentConnection> connection;
        std::u16string name;   // as said in its hello
        std::u16string entry;  // the allow entry that admitted it, shown by the UI
        std::time_t since = 0;
    };

    Admission AdmitLocked(const std::u16string& name, const AgentConnection& connection) const;
    bool IsListedName(const std::u16string& name) const;
    bool IsOwnName(const std::u16string& name) const;
    bool CoveredByAddress(const AgentConnection& connection) const;
    bool StillAllowedLocked(const Client& client) const;
    void ReportGoneLocked(const Client& client) const;
    void NotifyLocked(AgentNotifyKind kind, const std::u16string& name,
                      const AgentConnection* connection) const;

    const std::vector<std::u16string> own_names_;
    const bool accept_claimed_names_;
    mutable std::mutex mutex_;
    std::vector<AllowEntry> entries_;
    std::vector<Client> clients_;  // oldest first
    ServerNotifyFn notify_ = nullptr;
    void* context_ = nullptr;
};

}  // namespace halvorin
