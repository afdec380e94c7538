// The fonts, colours, image strips and measured sizes of the element list,
// loaded once when the list is created.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>

#include "shell/theme/image_list.h"
#include "views/history_chart.h"

namespace halvorin {

struct ElementListLook {
    explicit ElementListLook(qreal pixel_ratio);

    QFont header_font, element_font, second_font, value_font, unit_font, axis_font, menu_font;
    QColor row_background, header_top, header_bottom, header_hot_top, header_hot_bottom;
    QColor header_line, header_text, separator, name_text, detail_text, label_off;
    QColor condition_warn, condition_fail, focus;
    QColor welcome_background, welcome_text;
    QFont panel_label_font, panel_value_font;
    QColor button_fill, button_hot, button_outline, editor_outline;
    QColor undo_fill, undo_hot, zoning_button_outline;
    CImageList browse_icons;
    CImageList zone_in, zone_out;
    QFont welcome_font;
    CImageList welcome_picture;
    CImageList group_icons, group_icons_hot, markers, badges, fail_badge, slot_fail_badge;
    QFont overview_header_font, overview_font, overview_name_font;
    QColor overview_header, overview_header_text, overview_stripe, overview_line;
    QColor overview_ok, overview_fault;
    CImageList buzzer_icon;
    ChartStyle chart;
    QImage chart_grid;

    int header_height = 44;
    int element_text_height = 0, second_text_height = 0, axis_text_height = 0;
    int slot_row_height = 0, psu_row_height = 0, port_row_height = 0, other_row_height = 0;
    int id_led_label_width = 0;
    int disk_columns[3] = {};

    int SensorRowHeight(int chart_height) const { return axis_text_height + chart_height + 41; }
};

}  // namespace halvorin
