// The dashboard: one row per sub-enclosure of every managed host under a
// column header, with the healthy or failed count per element type, so the
// operator sees at once where something failed and opens it with a click.
#pragma once

#include <QFont>
#include <QString>
#include <array>
#include <cstdint>
#include <string>

#include "enclosure/model/sub_enc.h"

namespace halvorin {

struct OverviewColumn {
    int title_id;
    uint8_t type;  // element type counted; 0 for the name and the status column
    int icon;      // cell of the group icon strip; -1 none
};

inline constexpr int kOverviewColumnCount = 7;
inline constexpr int kOverviewNameColumn = 0;
inline constexpr int kOverviewStatusColumn = 6;

const std::array<OverviewColumn, kOverviewColumnCount>& OverviewColumns();

// A column's title: its string with an empty plural suffix, in title case.
QString OverviewColumnTitle(int column);

// Column widths for a list `list_width` pixels wide: the name column fits a
// generated display name; the others share the rest by their wrapped titles,
// and what is left over is spread over all seven.
struct OverviewLayout {
    int list_width = 0;
    std::array<int, kOverviewColumnCount> widths{};

    int Left(int column) const;
    int Right(int column) const { return Left(column) + widths[size_t(column)]; }
};
OverviewLayout LayOutOverviewColumns(int list_width, const QFont& header_font, int icon_width);

// What one dashboard row shows; a row is repainted only when this changes.
struct OverviewShown {
    std::u16string name;
    std::array<TypeCounter, kOverviewColumnCount> counts{};
    bool buzzer_sounding = false;
    // Its host does not answer or it is gone: the counts are the last read.
    bool current = true;
    int64_t last_read = 0;

    bool operator==(const OverviewShown&) const = default;
};
OverviewShown OverviewShownOf(const CSubEnc* subenc);

// The text of an element-type column: "Fault(n)" with the failed count, else
// "OK(n)" with the element count.
QString OverviewCellText(const OverviewShown& shown, int column);
// The whole row in words, for screen readers: the name, then each column,
// then since when it is not current.
QString OverviewRowText(const OverviewShown& shown);

}  // namespace halvorin
