// What every window of the desktop program shares: the font face and the
// seven shared image lists. The application builds them once at start-up;
// until then (and in tests that build windows alone) the face is "Arial"
// and the lists are empty.
#pragma once

#include <QColor>
#include <QString>
#include <array>

#include "shell/theme/image_list.h"

namespace halvorin {

inline constexpr int kSharedImageListCount = 7;

struct SharedImageListSource {
    int bitmap_id;
    int cell_width;
    QColor key;
};

// Lists 1 to 7, in order.
const std::array<SharedImageListSource, kSharedImageListCount>& SharedImageListSources();

struct SharedLook {
    QString font_face = QStringLiteral("Arial");
    std::array<CImageList, kSharedImageListCount> image_lists;
};

// Builds the seven lists from the bitmap resources; a missing bitmap leaves
// its list empty.
std::array<CImageList, kSharedImageListCount> BuildSharedImageLists();

void InstallSharedLook(SharedLook look);
// Installs the program's look: the seven lists built from the bitmaps and
// the given face, or the default face when it is empty.
void InstallLookWithFace(const QString& font_face);
const SharedLook& TheSharedLook();
QString AppFontFace();
// List `number` from 1 to 7; an empty list for any other number.
const CImageList& SharedImageList(int number);
// The on/off switch of list 5 at `top_left`, with its word in the
// language of the string tables.
void DrawSwitch(QPainter& painter, QPoint top_left, bool on);

}  // namespace halvorin
