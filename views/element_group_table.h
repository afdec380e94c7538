// The fixed table of element groups, in display order: which element types
// the enclosure view shows, with which icon, chart, texts and row kind.
#pragma once

#include <cstdint>
#include <span>

#include "views/item_data.h"
#include "views/rows/element_row_kind.h"
#include "views/value_format.h"

namespace halvorin {

// How tall a group's element rows are; the heights themselves are the look's.
enum class RowSize { kTwoLines, kSlot, kStatusIcons, kChart, kPort, kZoning };

struct ElementGroup {
    int type;          // element type; 0 for the System Information group
    int icon;          // cell of the group icon strip; -1 for none
    int chart_height;  // px; 0 for rows without a chart
    uint32_t flags;    // copied into every row of the group
    int title_id, count_id, element_name_id, value_id;
    int unit_id;                      // 0 when the reading has no unit text
    const ElementRowKind& (*kind)();  // the kind of its element rows; none for the panel
    ValueFormat format;
    RowSize row_size;
};

inline constexpr int kSystemInformationGroup = 0;

std::span<const ElementGroup> ElementGroupTable();
const ElementGroup* GroupAt(int index);

}  // namespace halvorin
