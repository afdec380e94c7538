#include "enclosure/poll/enclosure_presence.h"

#include <cstdio>

#include "enclosure/model/display_name.h"
#include "enclosure/model/reachability.h"
#include "enclosure/model/sub_enc.h"

namespace halvorin {

namespace {

std::string HexOf(const CSubEnc& subenc) {
    std::string hex;
    char byte[4];
    for (uint8_t b : subenc.logical_id) {
        std::snprintf(byte, sizeof byte, "%02X", b);
        hex += byte;
    }
    return hex;
}

}  // namespace

std::string EnclosureKey(const CSubEnc& subenc) {
    return HexOf(subenc) + "/" + std::to_string(subenc.id);
}

std::vector<EnclosureChange> EnclosurePresence::Follow(const std::vector<CSubEnc*>& shown) {
    std::map<std::string, Known> now;
    for (CSubEnc* subenc : shown) {
        if (IsCurrent(*subenc))
            now[EnclosureKey(*subenc)] = {EnclosureDisplayName(subenc), HexOf(*subenc)};
    }
    std::vector<EnclosureChange> changes;
    for (const auto& [key, known] : known_) {
        if (now.count(key) || gone_.count(key)) continue;
        changes.push_back({EnclosureChange::Kind::kGone, key, known.name, known.wwn});
        gone_.insert(key);
    }
    for (auto& [key, known] : now) {
        if (gone_.erase(key))
            changes.push_back({EnclosureChange::Kind::kBack, key, known.name, known.wwn});
        known_[key] = std::move(known);
    }
    return changes;
}

}  // namespace halvorin
