#include "shell/tree/enc_tree_look.h"

#include <QFontMetrics>
#include <algorithm>

#include "shell/theme/shared_look.h"
#include "shell/theme/theme_color.h"
#include "shell/theme/theme_font.h"

namespace halvorin {

namespace {

QColor Colour(int id, ColorRef fallback) {
    return ToQColor(LoadThemeColor(id, fallback));
}

QFont Font(int id, uint32_t fallback) {
    return CreateThemeFont(LoadThemeFont(id, fallback, AppFontFace()));
}

}  // namespace

EncTreeLook::EncTreeLook() {
    background = Colour(480, Rgb(255, 255, 255));
    host_collapsed = background;
    host_expanded = Colour(482, Rgb(243, 243, 243));
    text = Colour(469, Rgb(102, 102, 102));
    selected_text = Colour(470, Rgb(255, 255, 255));
    subenc_background = Colour(448, Rgb(255, 255, 255));
    subenc_selected = Colour(449, Rgb(67, 160, 174));
    delete_zone = Colour(451, Rgb(165, 91, 91));
    delete_zone_hot = Colour(452, Rgb(103, 11, 0));
    host_line = Colour(484, Rgb(150, 150, 150));
    subenc_line = Colour(450, Rgb(150, 150, 150));
    bar_track = Colour(465, Rgb(255, 255, 255));
    bar_line = Colour(466, Rgb(255, 255, 255));
    bar_thumb = Colour(467, Rgb(0xcc, 0xcc, 0xcc));
    bar_hot_thumb = Colour(468, Rgb(0x66, 0x66, 0x66));
    host_font = Font(895, FontSize(15, 700));
    subenc_font = Font(900, FontSize(15, 700));
    status_font = Font(896, FontSize(12, 400));
    const int texts = QFontMetrics(host_font).height() + QFontMetrics(status_font).height() + 29;
    row_height =
        std::max(texts, SharedImageList(1).empty() ? 32 : SharedImageList(1).cell_height());
}

}  // namespace halvorin
