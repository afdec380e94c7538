// Where the zoning editor puts its slot cells: blocks of 5, 6 or 8 cells,
// as many blocks per line as fit the band (balanced over the lines), the
// cells grown from 18 x 54 up to 24 x 72 while the grid still fits.
#pragma once

#include <QPoint>
#include <QRect>
#include <QString>

namespace halvorin {

inline constexpr int kZoningBandLeft = 160;
inline constexpr int kZoningCellTop = 8;
inline constexpr int kZoningLineGap = 16;
// The head rows' instructions: where they begin and their text.
inline constexpr int kZoningHeadTextLeft = 18;
inline constexpr int kZoningInstructionsText = 63;

struct ZoningLayout {
    int slot_count = 0;
    int cells_per_block = 5, cells_per_line = 5, lines = 0;
    int cell_width = 18, cell_height = 54, block_gap = 27, block_pitch = 0;
    int grid_width = 0;  // from the band's left edge to the last cell's right edge
    int row_height = 0;  // a zoning row: every line of cells
    int head_height = 0;
    QRect apply, undo;  // in a head row

    // Cell k (from 0) in a zoning row; empty beyond the slots.
    QRect CellRect(int k) const;
    // The cell under a point of a zoning row, or -1.
    int CellAt(QPoint in_row) const;
};

// The cells for `slot_count` slots in a band `band_width` px wide.
ZoningLayout LayOutZoneCells(int slot_count, int band_width);

// What cell k reads as ("Slot 5"), and why a cell beyond the table is inert.
QString ZoneCellName(int k);
QString OutsideZoneTableText();

}  // namespace halvorin
