#include "shell/tree/enc_tree_look.h"

#include <QFontMetrics>
#include <algorithm>

#include "shell/theme/shared_look.h"
#include "shell/theme/theme_color.h"
#include "shell/theme/theme_font.h"

namespace halvorin {

EncTreeLook::EncTreeLook() {
    background = LoadThemeQColor(480, Rgb(255, 255, 255));
    host_collapsed = background;
    host_expanded = LoadThemeQColor(482, Rgb(243, 243, 243));
    text = LoadThemeQColor(469, Rgb(102, 102, 102));
    selected_text = LoadThemeQColor(470, Rgb(255, 255, 255));
    stale_text = Rgb(178, 178, 178);
    subenc_background = LoadThemeQColor(448, Rgb(255, 255, 255));
    subenc_selected = LoadThemeQColor(449, Rgb(67, 160, 174));
    delete_zone = LoadThemeQColor(451, Rgb(165, 91, 91));
    delete_zone_hot = LoadThemeQColor(452, Rgb(103, 11, 0));
    host_line = LoadThemeQColor(484, Rgb(150, 150, 150));
    subenc_line = LoadThemeQColor(450, Rgb(150, 150, 150));
    focus = LoadThemeQColor(417, Rgb(0x43, 0xa0, 0xae));
    bar_track = LoadThemeQColor(465, Rgb(255, 255, 255));
    bar_line = LoadThemeQColor(466, Rgb(255, 255, 255));
    bar_thumb = LoadThemeQColor(467, Rgb(0xcc, 0xcc, 0xcc));
    bar_hot_thumb = LoadThemeQColor(468, Rgb(0x66, 0x66, 0x66));
    host_font = LoadAppFont(895, FontSize(15, 700));
    subenc_font = LoadAppFont(900, FontSize(15, 700));
    status_font = LoadAppFont(896, FontSize(12, 400));
    const int texts = QFontMetrics(host_font).height() + QFontMetrics(status_font).height() + 29;
    row_height =
        std::max(texts, SharedImageList(1).empty() ? 32 : SharedImageList(1).cell_height());
}

}  // namespace halvorin
