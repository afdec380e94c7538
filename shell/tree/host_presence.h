// Follows whether each host in the tree answers and which enclosures it
// shows, and logs what changed: a host lost (with the reason) and back, an
// enclosure gone from a host that still answers and back. It also words the
// reason a host cannot be used, for the host row's tool tip. Interface
// thread only, after each poll step.
#pragma once

#include <QString>
#include <map>
#include <string>

#include "enclosure/poll/enclosure_presence.h"

namespace halvorin {

class CEncTree;
class CSesDomain;

class HostPresence {
  public:
    void Follow(CEncTree& tree);

    // Why the host cannot be used now ("Host storage-01 was lost: ..."), or
    // nothing while it answers.
    QString Problem(CSesDomain* domain) const;

  private:
    struct Seen {
        bool reached = false;  // answered since it was last reported lost
        bool lost = false;     // reported lost, not yet back
        QString problem;
        EnclosurePresence enclosures;
    };

    void FollowConnection(CSesDomain& domain, Seen& seen);
    void FollowEnclosures(CEncTree& tree, CSesDomain& domain, Seen& seen);

    std::map<std::u16string, Seen> hosts_;  // by host name, so a re-added host starts afresh
};

// The reason a host's last attempt failed, in words (string 315 to 320).
QString HostFailureText(int result);

}  // namespace halvorin
