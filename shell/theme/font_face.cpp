#include "shell/theme/font_face.h"

#include <QFontDatabase>
#include <QStringList>
#include <optional>
#include <utility>

#include "base/string_table.h"

namespace halvorin {

namespace {

// "Roboto Regular" -> {"Roboto", "Regular"}; nothing for a one-word face.
std::optional<std::pair<QString, QString>> SplitFamilyAndStyle(const QString& face) {
    const qsizetype blank = face.lastIndexOf(' ');
    if (blank <= 0) return std::nullopt;
    return std::pair(face.left(blank), face.mid(blank + 1));
}

}  // namespace

bool FaceIsInstalledOnThisSystem(const QString& face) {
    if (QFontDatabase::hasFamily(face)) return true;
    const auto parts = SplitFamilyAndStyle(face);
    return parts && QFontDatabase::hasFamily(parts->first) &&
           QFontDatabase::styles(parts->first).contains(parts->second, Qt::CaseInsensitive);
}

QString ChooseFontFace(const FaceInstalled& installed) {
    for (int id : {25, 26, 27, 28, 29}) {
        const QString face = QString::fromStdU16String(LoadString(id));
        if (!face.isEmpty() && installed(face)) return face;
    }
    return QStringLiteral("Arial");
}

QString FontFamilyOfFace(const QString& face) {
    if (face.isEmpty() || QFontDatabase::hasFamily(face)) return face;
    const auto parts = SplitFamilyAndStyle(face);
    return parts && QFontDatabase::hasFamily(parts->first) ? parts->first : face;
}

}  // namespace halvorin
