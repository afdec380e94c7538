// CItemData: what one row of the element list is and what it last painted.
// Rows compare these remembered values with the model once a second and
// repaint only when they differ. A row that shows a model object holds a
// counted reference on it for as long as the row exists.
#pragma once

#include <bitset>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "enclosure/model/elem_type_desc.h"
#include "enclosure/model/model_ref.h"
#include "views/history_chart.h"
#include "views/overview_rows.h"

namespace halvorin {

class RowKind;
class CSesElem;
class CSubEnc;

// Row kinds and states (CItemData::flags).
inline constexpr uint32_t ROW_GROUP_HEADER = 0x00000001;
inline constexpr uint32_t ROW_EXPANDED = 0x00000002;
inline constexpr uint32_t ROW_LAST_IN_GROUP =
    0x00001004;  // both bits: the last element row of a group
inline constexpr uint32_t ROW_HAS_CHART = 0x00000008;
inline constexpr uint32_t ROW_THRESHOLD_SCALE = 0x00000010;
inline constexpr uint32_t ROW_VALUE_AREA = 0x00000020;
inline constexpr uint32_t ROW_TRACK_STATUS = 0x00000040;
inline constexpr uint32_t ROW_FAILED = 0x00000080;
inline constexpr uint32_t ROW_NO_BOTTOM_LINE = 0x00001000;  // part of ROW_LAST_IN_GROUP
inline constexpr uint32_t ROW_INDENT_LINE = 0x00002000;
inline constexpr uint32_t ROW_SLOT = 0x00800000;
inline constexpr uint32_t ROW_ZONING_HEAD = 0x01000000;
inline constexpr uint32_t ROW_ZONE = 0x02000000;
inline constexpr uint32_t ROW_OVERVIEW = 0x08000000;
inline constexpr uint32_t ROW_ELEMENT = 0x20000000;
inline constexpr uint32_t ROW_DIRTY = 0x40000000;
inline constexpr uint32_t ROW_PANEL = 0x80000000;
inline constexpr uint32_t kPanelHeaderFlags = ROW_PANEL | ROW_GROUP_HEADER | ROW_EXPANDED;

// Hot-spot codes: the low 12 bits of a hit code.
inline constexpr uint32_t HS_ROW = 0x000;
inline constexpr uint32_t HS_ZONE_OUTSIDE_TABLE = 0xFF4;  // a slot the zone table cannot hold
inline constexpr uint32_t HS_NAME_EDIT = 0xFF5;
inline constexpr uint32_t HS_CHANGE_NAME = 0xFF6;
inline constexpr uint32_t HS_SHUTDOWN = 0xFF7;
inline constexpr uint32_t HS_RESTART = 0xFF8;
inline constexpr uint32_t HS_ZONING_APPLY = 0xFF9;
inline constexpr uint32_t HS_ZONING_UNDO = 0xFFA;
inline constexpr uint32_t HS_MUTE = 0xFFB;
inline constexpr uint32_t HS_IDENT_LED = 0xFFC;
inline constexpr uint32_t HS_BROWSE = 0xFFD;
inline constexpr uint32_t HS_UPGRADE = 0xFFE;
inline constexpr uint32_t HS_NONE = 0xFFF;
inline constexpr uint32_t kClickable = 0x3000;
inline constexpr uint32_t kNothingHot = 0xFFFF0FFF;

inline uint32_t MakeHitCode(int row, uint32_t spot) {
    return uint32_t(row & 0xFFFF) << 16 | spot;
}
inline int HitRow(uint32_t code) {
    return int(code >> 16) == 0xFFFF ? -1 : int(code >> 16);
}
inline uint32_t HitSpot(uint32_t code) {
    return code & 0x0FFF;
}

struct CItemData {
    const RowKind* kind = nullptr;  // how the row paints (views/rows/)
    uint32_t flags = 0;
    int group_row = -1;  // entry of the group table; -1 for rows without one

    // What the row shows: an overview row its sub-enclosure, an element row
    // its element; a group header its elements (one reference each) and the
    // rows made for them, in the same order.
    Ref<CSubEnc> subenc;
    Ref<CSesElem> element;
    std::vector<Ref<CSesElem>> members;
    std::vector<std::unique_ptr<CItemData>> member_rows;
    std::unique_ptr<ELEM_TYPE_DESC> type_desc;  // group headers: a copy, zeros when none
    uint8_t type_desc_index = 0;

    uint32_t shown_state = 0;  // StateBits last painted (panel body: indicator bits)
    uint8_t shown_status = 5;  // SES status code last painted
    int group_count = 0;       // group headers: failed elements shown in the badge
    HistoryChart chart;        // rows with ROW_HAS_CHART
    std::bitset<96> zone_edit, zone_applied;
    std::optional<OverviewShown> overview_shown;  // overview rows: what was painted

    CItemData() = default;
    CItemData(const CItemData&) = delete;
    CItemData& operator=(const CItemData&) = delete;
    ~CItemData();

    bool Is(uint32_t flag) const { return (flags & flag) == flag; }
};

}  // namespace halvorin
