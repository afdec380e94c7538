// Whether a manager's claimed computer name belongs to the address it
// connects from: the name must resolve to that address, and the address must
// resolve back to the name. Asks the system resolver, so it may block for
// seconds: never call it on the receiver thread.
#pragma once

#include <sys/socket.h>

#include <string>

namespace halvorin {

struct PeerNameCheck {
    bool confirmed = false;
    std::string why;  // when not confirmed: what did not match, for the log
};

PeerNameCheck CheckPeerName(const std::string& name, const sockaddr_storage& peer);

// "a.b" and "A" name the same host when their first labels agree and
// neither says a different domain: a short hello name matches its full
// reverse name and the other way round.
bool SameHostName(const std::string& a, const std::string& b);

}  // namespace halvorin
