#include "views/elem_list_look.h"

#include <QFontMetrics>
#include <algorithm>

#include "shell/theme/shared_look.h"
#include "shell/theme/string_resources.h"
#include "shell/theme/theme_color.h"
#include "shell/theme/theme_font.h"

namespace halvorin {

namespace {

QFont Font(int id, uint16_t height, uint16_t weight = 700) {
    return CreateThemeFont(LoadThemeFont(id, FontSize(height, weight), AppFontFace()));
}

QColor Colour(int id, uint8_t r, uint8_t g, uint8_t b) {
    return ToQColor(LoadThemeColor(id, Rgb(r, g, b)));
}

CImageList Strip(int bitmap, int cell_width) {
    return CImageList::FromBitmap(bitmap, cell_width, QColor(0, 255, 0)).value_or(CImageList{});
}

int TextHeight(const QFont& font, const QString& text = "TEST") {
    return QFontMetrics(font)
        .boundingRect(QRect(0, 0, 10000, 1000), Qt::TextSingleLine, text)
        .height();
}

}  // namespace

ElementListLook::ElementListLook(qreal pixel_ratio) {
    welcome_background = LoadThemeQColor(423, Rgb(0xe6, 0xe6, 0xe6));
    welcome_text = LoadThemeQColor(432, Rgb(66, 66, 66));
    welcome_font = LoadAppFont(988, FontSize(22, 700));
    if (auto picture = LoadBitmapResource(311)) welcome_picture = Strip(311, picture->width());
    header_font = Font(880, 16);
    element_font = Font(883, 15);
    second_font = Font(885, 14);
    value_font = Font(886, 36);
    unit_font = Font(887, 12);
    axis_font = Font(894, 12);
    menu_font = Font(987, 14);

    row_background = Colour(434, 0xff, 0xff, 0xff);
    header_top = Colour(427, 0xe5, 0xe5, 0xe5);
    header_bottom = Colour(428, 0xdb, 0xdb, 0xdb);
    header_hot_top = Colour(425, 0xe5, 0xe5, 0xe5);
    header_hot_bottom = Colour(426, 0xdb, 0xdb, 0xdb);
    header_line = Colour(430, 0xc5, 0xc5, 0xc5);
    header_text = Colour(424, 0x67, 0x67, 0x67);
    separator = Colour(431, 0xcc, 0xcc, 0xcc);
    name_text = Colour(432, 0x66, 0x66, 0x66);
    detail_text = Colour(509, 0x69, 0x69, 0x69);
    label_off = Colour(508, 0xe0, 0xe0, 0xe0);
    condition_warn = Colour(500, 0xd7, 0x86, 0x5b);
    condition_fail = Colour(501, 0x71, 0x0a, 0x01);
    focus = Colour(417, 0x43, 0xa0, 0xae);

    panel_label_font = Font(888, 16);
    panel_value_font = Font(889, 15);
    button_fill = Colour(417, 0x43, 0xa0, 0xae);
    button_hot = Colour(418, 0x6a, 0xc6, 0xd7);
    button_outline = Colour(430, 0xc5, 0xc5, 0xc5);
    editor_outline = Colour(422, 0xcc, 0xcc, 0xcc);
    undo_fill = Colour(419, 0xb3, 0xb3, 0xb3);
    undo_hot = Colour(420, 0xc1, 0xc2, 0xc6);
    zoning_button_outline = Colour(421, 0xc5, 0xc5, 0xc5);
    browse_icons = Strip(299, 24);
    for (auto [bitmap, picture] : {std::pair(302, &zone_in), std::pair(303, &zone_out)})
        *picture = CImageList::FromBitmap(bitmap, 24, QColor(255, 255, 255)).value_or(CImageList{});

    overview_header_font = Font(989, 15);
    overview_font = Font(990, 15);
    overview_name_font = overview_font;
    overview_name_font.setWeight(QFont::ExtraBold);
    overview_name_font.setUnderline(true);
    overview_header = Colour(637, 0x43, 0xa0, 0xae);
    overview_header_text = Colour(638, 0xff, 0xff, 0xff);
    overview_stripe = Colour(640, 0xf3, 0xf3, 0xf3);
    overview_line = Colour(641, 0xc5, 0xc5, 0xc5);
    overview_ok = Colour(643, 0x43, 0xa0, 0xae);
    overview_fault = Colour(644, 0x67, 0x0b, 0x00);
    buzzer_icon = Strip(304, 16);
    group_icons = Strip(293, 32);
    group_icons_hot = Strip(294, 32);
    markers = Strip(308, 16);
    badges = Strip(305, 18);
    fail_badge = Strip(298, 44);
    slot_fail_badge = Strip(300, 44);

    chart.line = Colour(514, 0x2e, 0xb4, 0xb6);
    chart.limits = {Colour(516, 0xdc, 0x81, 0x55), Colour(517, 0xdc, 0x81, 0x55),
                    Colour(518, 0x1e, 0xe4, 0xe8), Colour(519, 0x1e, 0xe4, 0xe8)};
    chart.label = Colour(441, 0x66, 0x66, 0x56);
    chart.grid_background = Colour(515, 0x3c, 0x3f, 0x44);
    chart.grid_line = Colour(513, 0x67, 0x67, 0x67);
    chart.hour_label = Colour(440, 0x66, 0x66, 0x66);
    chart.row_background = row_background;
    chart.axis_font = axis_font;
    chart.label_column = QFontMetrics(axis_font).horizontalAdvance("10000") + 1;
    chart.pixel_ratio = pixel_ratio;
    chart_grid = BuildChartGrid(chart);

    header_height = std::max({44, TextHeight(header_font) + 12, group_icons.cell_height()});
    element_text_height = TextHeight(element_font);
    second_text_height = TextHeight(second_font);
    axis_text_height = TextHeight(axis_font, "10000");
    slot_row_height = element_text_height + slot_fail_badge.cell_height() + 20;
    psu_row_height = element_text_height + fail_badge.cell_height() + 20;
    port_row_height = slot_row_height;
    other_row_height = element_text_height + second_text_height + 20;
    id_led_label_width = QFontMetrics(second_font).horizontalAdvance(LoadQString(105));
    const int w = QFontMetrics(element_font).horizontalAdvance("W");
    disk_columns[0] = 9 * w;
    disk_columns[1] = 17 * w;
    disk_columns[2] = 21 * w;
}

}  // namespace halvorin
