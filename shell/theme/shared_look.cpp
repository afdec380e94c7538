#include "shell/theme/shared_look.h"

#include <QPainter>

#include "shell/theme/string_resources.h"

namespace halvorin {

namespace {

SharedLook& Look() {
    static SharedLook look;
    return look;
}

}  // namespace

const std::array<SharedImageListSource, kSharedImageListCount>& SharedImageListSources() {
    static const std::array<SharedImageListSource, kSharedImageListCount> sources = {{
        {297, 32, QColor(0, 255, 0)},
        {296, 32, QColor(0, 255, 0)},
        {292, 32, QColor(0, 255, 0)},
        {295, 32, QColor(0, 255, 0)},
        {315, 60, QColor(0, 255, 0)},
        {317, 24, QColor(255, 255, 255)},
        {316, 30, QColor(0, 255, 0)},
    }};
    return sources;
}

std::array<CImageList, kSharedImageListCount> BuildSharedImageLists() {
    std::array<CImageList, kSharedImageListCount> lists;
    for (size_t i = 0; i < lists.size(); ++i) {
        const auto& source = SharedImageListSources()[i];
        auto list = CImageList::FromBitmap(source.bitmap_id, source.cell_width, source.key);
        if (list) lists[i] = std::move(*list);
    }
    return lists;
}

void InstallSharedLook(SharedLook look) {
    Look() = std::move(look);
}

void InstallLookWithFace(const QString& font_face) {
    SharedLook look;
    if (!font_face.isEmpty()) look.font_face = font_face;
    look.image_lists = BuildSharedImageLists();
    InstallSharedLook(std::move(look));
}

const SharedLook& TheSharedLook() {
    return Look();
}

QString AppFontFace() {
    return Look().font_face;
}

const CImageList& SharedImageList(int number) {
    static const CImageList empty;
    if (number < 1 || number > kSharedImageListCount) return empty;
    return Look().image_lists[size_t(number - 1)];
}

void DrawSwitch(QPainter& painter, QPoint top_left, bool on) {
    constexpr int kOnText = 329, kOffText = 330;
    constexpr int kTextShift = 9;  // the word sits beside the knob
    constexpr int kTextWidth = 34;
    const CImageList& switches = SharedImageList(5);
    switches.Draw(painter, on ? 0 : 1, top_left);
    const QSize cell =
        switches.empty() ? QSize(60, 24) : QSize(switches.cell_width(), switches.cell_height());
    const QString word = LoadQString(on ? kOnText : kOffText);
    QFont font(AppFontFace());
    font.setBold(true);
    font.setPixelSize(std::max(1, int(cell.height() * 0.55 + 0.5)));
    // A long word is set smaller rather than cut.
    while (font.pixelSize() > 8 && QFontMetrics(font).horizontalAdvance(word) > kTextWidth)
        font.setPixelSize(font.pixelSize() - 1);
    const int centre = top_left.x() + cell.width() / 2 + (on ? -kTextShift : kTextShift);
    painter.save();
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(centre - kTextWidth / 2, top_left.y(), kTextWidth, cell.height()),
                     Qt::AlignCenter | Qt::TextSingleLine, word);
    painter.restore();
}

}  // namespace halvorin
