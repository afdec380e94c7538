// What the enclosure tree keeps behind its rows, and the pictures it draws
// them with. Only the tree's own files see it.
#pragma once

#include <Qt>
#include <cstdint>
#include <memory>
#include <vector>

#include "enclosure/model/model_ref.h"
#include "shell/tree/enc_tree.h"

namespace halvorin {

struct CEncTree::SubEncNode {
    Ref<CSubEnc> subenc;
};

struct CEncTree::HostNode {
    Ref<CSesDomain> domain;
    uint16_t display_word = kStateConnecting | kBlinkBit;
    std::vector<std::unique_ptr<SubEncNode>> children;  // as the item's rows
};

namespace enc_tree {

constexpr int kNodeRole = Qt::UserRole;
// Pictures of shared image lists 1 and 2.
enum TreeIcon {
    kArmIcon = 0,
    kArmIconHot = 1,
    kDeleteIcon = 2,
    kDeleteIconHot = 3,
    kHostIcon = 4,
    kHostKind32Icon = 5,
    kSubEncIcon = 6,
    kSubEncSelectedIcon = 7
};
enum TreeGlyph { kExpandedGlyph = 0, kCollapsedGlyph = 1, kSelectionMarker = 2 };
constexpr uint8_t kHostKindWithOwnIcon = 32;

}  // namespace enc_tree

}  // namespace halvorin
