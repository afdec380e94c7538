#include "net/agent/client_authorization.h"

#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "base/log.h"
#include "base/utf16.h"

namespace halvorin {

namespace {

bool ContainsIgnoringCase(const std::vector<std::u16string>& names, const std::u16string& name) {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::u16string& n) { return EqualsIgnoreCase(n, name); });
}

}  // namespace

ClientAuthorization::ClientAuthorization(std::vector<std::u16string> own_names,
                                         bool accept_claimed_names)
    : own_names_(std::move(own_names)), accept_claimed_names_(accept_claimed_names) {}

void ClientAuthorization::SetNotify(ServerNotifyFn fn, void* context) {
    std::lock_guard lock(mutex_);
    notify_ = fn;
    context_ = fn ? context : nullptr;
}

bool ClientAuthorization::IsListedName(const std::u16string& name) const {
    return std::any_of(entries_.begin(), entries_.end(), [&](const AllowEntry& e) {
        return e.kind == AllowEntry::Kind::kName && EqualsIgnoreCase(e.text, name);
    });
}

bool ClientAuthorization::IsOwnName(const std::u16string& name) const {
    return ContainsIgnoringCase(own_names_, name);
}

bool ClientAuthorization::CoveredByAddress(const AgentConnection& connection) const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [&](const AllowEntry& e) { return CoversPeer(e, connection.peer()); });
}

Admission ClientAuthorization::AdmitLocked(const std::u16string& name,
                                           const AgentConnection& connection) const {
    if (name.empty()) return Admission::kRefused;
    if (CoveredByAddress(connection)) return Admission::kAdmitted;
    if (!IsListedName(name)) return Admission::kRefused;
    if (IsOwnName(name)) {
        return connection.peer_is_local() ? Admission::kAdmitted : Admission::kRefused;
    }
    // A certificate from the client CA that carries the name proves it.
    if (connection.CertificateNames(name)) return Admission::kAdmitted;
    return accept_claimed_names_ ? Admission::kAdmitted : Admission::kNeedsNameCheck;
}

Admission ClientAuthorization::Admit(const std::u16string& name,
                                     const AgentConnection& connection) const {
    std::lock_guard lock(mutex_);
    return AdmitLocked(name, connection);
}

void ClientAuthorization::NotifyLocked(AgentNotifyKind kind, const std::u16string& name,
                                       const AgentConnection* connection) const {
    if (!notify_) return;
    AGENT_NOTIFY record;
    record.kind = kind;
    const size_t units = std::min(name.size(), std::size(record.client_name) - 1);
    std::copy_n(name.begin(), units, record.client_name);
    if (kind == kClientAuthorized && connection && connection->peer().ss_family == AF_INET) {
        static_assert(sizeof(sockaddr_in) == sizeof(record.peer_address));
        std::memcpy(record.peer_address, &connection->peer(), sizeof(sockaddr_in));
        record.address_length = sizeof(sockaddr_in);
    }
    notify_(&record, context_);
}

// The user interface shows one status per list entry: the entry that admitted
// a manager goes back to idle when the last manager it admitted has gone.
void ClientAuthorization::ReportGoneLocked(const Client& client) const {
    const bool another = std::any_of(clients_.begin(), clients_.end(), [&](const Client& c) {
        return c.connection != client.connection && EqualsIgnoreCase(c.entry, client.entry);
    });
    if (!another) NotifyLocked(kClientGone, client.entry, nullptr);
}

bool ClientAuthorization::StillAllowedLocked(const Client& client) const {
    return AdmitLocked(client.name, *client.connection) != Admission::kRefused;
}

void ClientAuthorization::SetAuthorized(std::vector<std::u16string> entries) {
    std::vector<AllowEntry> parsed;
    for (const std::u16string& text : entries) {
        if (text.empty()) continue;
        if (auto entry = ParseAllowEntry(text)) {
            parsed.push_back(std::move(*entry));
        } else {
            Log("ignored allow entry \"" + Utf16ToUtf8(text) +
                "\": not a name, address or network");
        }
    }
    std::lock_guard lock(mutex_);
    entries_ = std::move(parsed);
    std::vector<Client> leaving;
    std::erase_if(clients_, [&](Client& c) {
        if (StillAllowedLocked(c)) return false;
        leaving.push_back(std::move(c));
        return true;
    });
    for (const Client& c : leaving) {
        Log("client " + Utf16ToUtf8(c.name) + " at " + c.connection->PeerText() +
            " is no longer authorised");
        ReportGoneLocked(c);
        c.connection->Shutdown();
    }
}

bool ClientAuthorization::Authorize(const std::u16string& name,
                                    const std::shared_ptr<AgentConnection>& connection) {
    std::lock_guard lock(mutex_);
    if (AdmitLocked(name, *connection) == Admission::kRefused) return false;
    if (connection->IsDropped()) return false;
    const std::u16string shown = name.substr(0, std::size(AGENT_NOTIFY{}.client_name) - 1);
    // The list entry that admitted it: an address entry, or the name itself.
    std::u16string entry = shown;
    for (const AllowEntry& e : entries_)
        if (CoversPeer(e, connection->peer())) {
            entry = e.text;
            break;
        }
    clients_.push_back({connection, shown, entry, std::time(nullptr)});
    NotifyLocked(kClientAuthorized, entry, connection.get());
    return true;
}

void ClientAuthorization::ConnectionDropped(const AgentConnection& connection) {
    std::lock_guard lock(mutex_);
    auto found = std::find_if(clients_.begin(), clients_.end(),
                              [&](const Client& c) { return c.connection.get() == &connection; });
    if (found == clients_.end()) return;
    Client gone = std::move(*found);
    clients_.erase(found);
    ReportGoneLocked(gone);
}

std::u16string ClientAuthorization::CurrentClient() const {
    std::lock_guard lock(mutex_);
    return clients_.empty() ? std::u16string() : clients_.front().name;
}

std::vector<ServedManager> ClientAuthorization::Served() const {
    std::lock_guard lock(mutex_);
    std::vector<ServedManager> served;
    for (const Client& c : clients_)
        served.push_back({c.name, c.connection->PeerText(), c.since});
    return served;
}

std::vector<std::u16string> ClientAuthorization::AuthorizedNames() const {
    std::lock_guard lock(mutex_);
    std::vector<std::u16string> texts;
    for (const AllowEntry& e : entries_)
        texts.push_back(e.text);
    return texts;
}

std::string ClientAuthorization::RulesText() const {
    std::lock_guard lock(mutex_);
    std::string text;
    for (const AllowEntry& e : entries_)
        text += (text.empty() ? "" : ", ") + Utf16ToUtf8(e.text);
    if (text.empty()) text = "nobody";
    return "allow " + text +
           (accept_claimed_names_ ? "; names accepted as claimed (weaker: any peer may claim one)"
                                  : "; names must resolve to the peer and back");
}

}  // namespace halvorin
