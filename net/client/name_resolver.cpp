#include "net/client/name_resolver.h"

#include <netdb.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

namespace halvorin {

namespace {

class GetAddrInfoResolver final : public NameResolver {
  public:
    std::vector<ResolvedAddress> Resolve(const std::string& host) override {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_ALL | AI_V4MAPPED;
        addrinfo* list = nullptr;
        std::vector<ResolvedAddress> out;
        if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) return out;
        for (addrinfo* node = list; node != nullptr; node = node->ai_next) {
            if (node->ai_family != AF_INET && node->ai_family != AF_INET6) continue;
            ResolvedAddress r;
            std::memcpy(&r.address, node->ai_addr, node->ai_addrlen);
            r.length = node->ai_addrlen;
            r.family = node->ai_family;
            out.push_back(r);
        }
        ::freeaddrinfo(list);
        return out;
    }
};

}  // namespace

std::shared_ptr<NameResolver> SystemResolver() {
    static auto resolver = std::make_shared<GetAddrInfoResolver>();
    return resolver;
}

// What the lookup thread and the caller share. The eventfd lives here so an
// abandoned lookup can still signal it.
struct PendingResolution::Shared {
    ~Shared() {
        if (done_fd >= 0) ::close(done_fd);
    }
    mutable std::mutex mutex;
    bool done = false;
    std::vector<ResolvedAddress> result;
    int done_fd = -1;
};

PendingResolution::PendingResolution() : shared_(std::make_shared<Shared>()) {}

PendingResolution::~PendingResolution() = default;

std::shared_ptr<PendingResolution> PendingResolution::Start(std::shared_ptr<NameResolver> resolver,
                                                            const std::string& host) {
    std::shared_ptr<PendingResolution> pending(new PendingResolution());
    pending->shared_->done_fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (pending->shared_->done_fd < 0) return nullptr;
    pending->done_fd_ = pending->shared_->done_fd;
    try {
        std::thread([shared = pending->shared_, resolver = std::move(resolver), host] {
            std::vector<ResolvedAddress> result = resolver->Resolve(host);
            std::lock_guard lock(shared->mutex);
            shared->result = std::move(result);
            shared->done = true;
            const uint64_t one = 1;
            [[maybe_unused]] ssize_t n = ::write(shared->done_fd, &one, sizeof one);
        }).detach();
    } catch (const std::system_error&) {
        return nullptr;
    }
    return pending;
}

bool PendingResolution::Done() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->done;
}

std::vector<ResolvedAddress> PendingResolution::Result() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->result;
}

}  // namespace halvorin
