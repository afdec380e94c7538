#include "net/agent/agent_connection.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <sys/socket.h>

#include <cstring>

#include "base/utf16.h"
#include "net/protocol/listen_address.h"

namespace halvorin {

namespace {

bool SameAddress(const sockaddr* a, const sockaddr_storage& b) {
    if (a == nullptr || a->sa_family != b.ss_family) return false;
    if (a->sa_family == AF_INET) {
        return reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in*>(&b)->sin_addr.s_addr;
    }
    if (a->sa_family == AF_INET6) {
        return std::memcmp(&reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr,
                           &reinterpret_cast<const sockaddr_in6*>(&b)->sin6_addr,
                           sizeof(in6_addr)) == 0;
    }
    return false;
}

}  // namespace

AgentConnection::AgentConnection(UniqueFd socket, uint64_t id, const sockaddr_storage& peer,
                                 bool peer_is_local)
    : socket_(std::move(socket)), id_(id), peer_(peer), peer_is_local_(peer_is_local) {}

ssize_t AgentConnection::Receive(void* data, size_t size) {
    if (tls_) return tls_->Receive(data, size);
    return ::recv(socket_.get(), data, size, MSG_DONTWAIT);
}

ssize_t AgentConnection::Send(const void* data, size_t size) {
    if (tls_) return tls_->Send(data, size);
    return ::send(socket_.get(), data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
}

std::string AgentConnection::ManagerText() const {
    if (tls_) {
        const std::string subject = tls_->PeerSubject();
        if (!subject.empty()) return subject;
    }
    return Utf16ToUtf8(manager_name);
}

bool AgentConnection::CertificateNames(const std::u16string& name) const {
    return tls_ && !name.empty() && EqualsIgnoreCase(Utf8ToUtf16(tls_->PeerCommonName()), name);
}

void AgentConnection::DiscardInput() {
    char scratch[4096];
    for (int i = 0; i < 64 && ::recv(socket_.get(), scratch, sizeof scratch, MSG_DONTWAIT) > 0;
         ++i) {
    }
}

void AgentConnection::Shutdown() {
    if (!shut_down_.exchange(true)) ::shutdown(socket_.get(), SHUT_RDWR);
}

std::string AgentConnection::PeerText() const {
    return SocketAddressText(peer_);
}

bool IsLocalPeer(const sockaddr_storage& peer) {
    if (peer.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&peer);
        if ((ntohl(v4->sin_addr.s_addr) >> 24) == 127) return true;
    } else if (peer.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&peer);
        if (IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr)) return true;
    }
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) return false;
    bool local = false;
    for (ifaddrs* i = interfaces; i != nullptr && !local; i = i->ifa_next) {
        local = SameAddress(i->ifa_addr, peer);
    }
    freeifaddrs(interfaces);
    return local;
}

}  // namespace halvorin
