// The colours, fonts and sizes of the enclosure tree's rows, taken from the
// theme when the tree is created.
#pragma once

#include <QColor>
#include <QFont>

namespace halvorin {

struct EncTreeLook {
    EncTreeLook();

    QColor background;      // the tree behind its rows
    QColor host_collapsed;  // host row backgrounds
    QColor host_expanded;
    QColor text, selected_text;
    QColor stale_text;  // enclosures whose values are no longer current
    QColor subenc_background, subenc_selected;
    QColor delete_zone, delete_zone_hot;
    QColor host_line, subenc_line;  // along each row's bottom
    QColor focus;                   // the keyboard's row, while the tree has the focus
    QColor bar_track, bar_line, bar_thumb, bar_hot_thumb;
    QFont host_font, subenc_font, status_font;
    int row_height = 32;

    // Left edge of the icons of host and enclosure rows.
    static constexpr int kIconLeft = 12;
    static constexpr int kSubEncIndent = 20;
    static constexpr int kTextGap = 16;    // after the icon
    static constexpr int kGlyphGap = 8;    // after the expand glyph
    static constexpr int kTextInset = 13;  // above and below the texts
};

}  // namespace halvorin
