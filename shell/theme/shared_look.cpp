#include "shell/theme/shared_look.h"

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

}  // namespace halvorin
