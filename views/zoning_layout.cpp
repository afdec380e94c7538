#include "views/zoning_layout.h"

#include <algorithm>

namespace halvorin {

namespace {

constexpr int kMaxCellWidth = 24;

int CeilDiv(int a, int b) {
    return (a + b - 1) / b;
}

int BlockSize(int slot_count) {
    if (slot_count % 5 == 0) return 5;
    if (slot_count % 6 == 0) return 6;
    if (slot_count % 8 == 0) return 8;
    return 5;
}

}  // namespace

ZoningLayout LayOutZoneCells(int slot_count, int band_width) {
    ZoningLayout layout;
    layout.slot_count = std::max(0, slot_count);
    const int n = layout.slot_count;
    layout.cells_per_block = BlockSize(n);
    const int block = layout.cells_per_block;
    int blocks_per_line = std::max(1, band_width / ((block + 1) * 27));
    layout.cells_per_line = block * blocks_per_line;
    layout.lines = n == 0 ? 0 : CeilDiv(n, layout.cells_per_line);
    if (n > 0) {
        // As few blocks per line as still give the same number of lines.
        const int blocks = CeilDiv(n, block);
        blocks_per_line = std::max(1, CeilDiv(blocks, layout.lines));
        layout.cells_per_line = block * blocks_per_line;
    }
    const int p = layout.cells_per_line;
    const int q = p / block;
    int width = (q + p) * 27 - 36;
    int height = layout.lines * 70;
    const int width_step = 3 * p + 4 * q - 5;
    const int height_step = layout.lines * 6;
    while (n > 0 && layout.cell_width < kMaxCellWidth && width + width_step < band_width &&
           height + height_step <= 255) {
        layout.cell_width += 2;
        layout.cell_height += 6;
        layout.block_gap += 4;
        width += width_step;
        height += height_step;
    }
    layout.block_pitch = block * (layout.cell_width * 3 / 2) + layout.block_gap;
    layout.grid_width = std::max(0, width);
    // Every line of cells is shown, however many: no slot is out of reach.
    layout.row_height = layout.lines * (layout.cell_height + kZoningLineGap) + kZoningCellTop;
    return layout;
}

QRect ZoningLayout::CellRect(int k) const {
    if (k < 0 || k >= slot_count || cells_per_line <= 0) return {};
    const int line = k / cells_per_line;
    const int in_line = k % cells_per_line;
    const int x = kZoningBandLeft + (in_line / cells_per_block) * block_pitch +
                  (in_line % cells_per_block) * (cell_width * 3 / 2);
    const int y = kZoningCellTop + line * (cell_height + kZoningLineGap);
    return QRect(x, y, cell_width, cell_height);
}

int ZoningLayout::CellAt(QPoint at) const {
    if (at.x() < kZoningBandLeft || at.y() < kZoningCellTop || cells_per_line <= 0) return -1;
    const int line = (at.y() - kZoningCellTop) / (cell_height + kZoningLineGap);
    const int x = at.x() - kZoningBandLeft;
    const int block = x / block_pitch;
    const int cell = (x % block_pitch) / (cell_width * 3 / 2);
    if (cell >= cells_per_block || block * cells_per_block >= cells_per_line) return -1;
    const int k = line * cells_per_line + block * cells_per_block + cell;
    return CellRect(k).contains(at) ? k : -1;
}

}  // namespace halvorin
