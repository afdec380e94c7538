// Which enclosures a host shows, followed from one look to the next: an
// enclosure that was shown and is no longer is reported gone once, and back
// once when it returns (its device was unplugged, deleted or rescanned, or
// its expander restarted). Compare only while the host answers: a host that
// is lost keeps its enclosures, and saying each is gone would bury the one
// line that matters. Both front ends follow their hosts with it.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace halvorin {

class CSubEnc;

struct EnclosureChange {
    enum class Kind { kGone, kBack };
    Kind kind = Kind::kGone;
    std::string key;      // EnclosureKey
    std::u16string name;  // as it was last shown
    std::string wwn;      // 16 hex digits
};

// The enclosure's world-wide name and sub-enclosure, which stay when its
// device reconnects or is read again: "500A0B0C0D0E0F00/0".
std::string EnclosureKey(const CSubEnc& subenc);

class EnclosurePresence {
  public:
    // `shown`: the host's sub-enclosures now; those that are not current
    // (IsCurrent) count as absent.
    std::vector<EnclosureChange> Follow(const std::vector<CSubEnc*>& shown);

  private:
    struct Known {
        std::u16string name;
        std::string wwn;
    };
    std::map<std::string, Known> known_;  // ever shown, by key
    std::set<std::string> gone_;          // reported gone, not yet back
};

}  // namespace halvorin
