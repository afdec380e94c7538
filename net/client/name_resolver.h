// Host name resolution that a connection thread can walk away from. The
// lookup runs on a thread of its own that shares only a reference-counted
// block with the caller, so a caller that gives up (its domain is being
// destroyed) returns at once and the lookup still ends harmlessly.
#pragma once

#include <sys/socket.h>

#include <memory>
#include <string>
#include <vector>

namespace halvorin {

struct ResolvedAddress {
    sockaddr_storage address{};
    socklen_t length = 0;
    int family = 0;
};

// The blocking lookup itself; tests substitute a slow or failing one.
class NameResolver {
  public:
    virtual ~NameResolver() = default;
    virtual std::vector<ResolvedAddress> Resolve(const std::string& host) = 0;
};

// getaddrinfo, any family, stream sockets.
std::shared_ptr<NameResolver> SystemResolver();

// One lookup on its own thread.
class PendingResolution {
  public:
    // Starts the lookup; nothing when no thread could be started.
    static std::shared_ptr<PendingResolution> Start(std::shared_ptr<NameResolver> resolver,
                                                    const std::string& host);
    ~PendingResolution();

    // Readable once the lookup has finished.
    int done_fd() const { return done_fd_; }
    bool Done() const;
    std::vector<ResolvedAddress> Result() const;

  private:
    PendingResolution();
    struct Shared;
    std::shared_ptr<Shared> shared_;
    int done_fd_ = -1;
};

}  // namespace halvorin
