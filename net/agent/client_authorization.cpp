#include "net/agent/client_authorization.h"

#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "base/log.h"
#include "base/utf16.h"

namespace halvorin {

ClientAuthorization::ClientAuthorization(std::vector<std::u16string> own_names)
    : own_names_(std::move(own_names)) {}

void ClientAuthorization::SetNotify(ServerNotifyFn fn, void* context) {
    std::lock_guard lock(mutex_);
    notify_ = fn;
    context_ = fn ? context : nullptr;
}

bool ClientAuthorization::IsListed(const std::u16string& name) const {
    return std::any_of(authorized_.begin(), authorized_.end(),
                       [&](const std::u16string& n) { return EqualsIgnoreCase(n, name); });
}

bool ClientAuthorization::IsOwnName(const std::u16string& name) const {
    return std::any_of(own_names_.begin(), own_names_.end(),
                       [&](const std::u16string& n) { return EqualsIgnoreCase(n, name); });
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

void ClientAuthorization::SetAuthorized(std::vector<std::u16string> names) {
    std::erase_if(names, [](const std::u16string& n) { return n.empty(); });
    std::lock_guard lock(mutex_);
    authorized_ = std::move(names);
    if (!current_name_.empty() && IsListed(current_name_)) return;
    if (!current_name_.empty()) {
        Log("client " + Utf16ToUtf8(current_name_) + " is no longer authorised");
        NotifyLocked(kClientGone, current_name_, nullptr);
        current_name_.clear();
    }
    if (current_) current_->Shutdown();
}

void ClientAuthorization::ConnectionAccepted(std::shared_ptr<AgentConnection> connection) {
    std::lock_guard lock(mutex_);
    current_ = std::move(connection);
    current_name_.clear();
}

void ClientAuthorization::ConnectionDropped(const AgentConnection& connection) {
    std::lock_guard lock(mutex_);
    if (current_.get() != &connection) return;
    current_.reset();
    if (!current_name_.empty()) {
        NotifyLocked(kClientGone, current_name_, nullptr);
        current_name_.clear();
    }
}

bool ClientAuthorization::MayConnect(const std::u16string& name,
                                     const AgentConnection& connection) const {
    std::lock_guard lock(mutex_);
    if (name.empty() || !IsListed(name)) return false;
    return !IsOwnName(name) || connection.peer_is_local();
}

bool ClientAuthorization::Authorize(const std::u16string& name,
                                    const std::shared_ptr<AgentConnection>& connection) {
    std::lock_guard lock(mutex_);
    if (name.empty() || !IsListed(name)) return false;
    if (IsOwnName(name) && !connection->peer_is_local()) return false;
    if (current_ != connection) return false;  // dropped meanwhile
    current_name_ = name.substr(0, std::size(AGENT_NOTIFY{}.client_name));
    NotifyLocked(kClientAuthorized, current_name_, connection.get());
    return true;
}

std::u16string ClientAuthorization::CurrentClient() const {
    std::lock_guard lock(mutex_);
    return current_name_;
}

std::vector<std::u16string> ClientAuthorization::AuthorizedNames() const {
    std::lock_guard lock(mutex_);
    return authorized_;
}

}  // namespace halvorin
