// The application's font face: the first preferred face that is installed.
#pragma once

#include <QString>
#include <functional>

namespace halvorin {

// Whether the font database has a face: a family ("Segoe UI") or a family
// and one of its styles ("Roboto Regular" is family Roboto, style Regular).
using FaceInstalled = std::function<bool(const QString& face)>;
bool FaceIsInstalledOnThisSystem(const QString& face);

// The first face of string ids 25 to 29 that has a text and is installed
// (ids without a text are skipped), else "Arial".
QString ChooseFontFace(const FaceInstalled& installed);

// The family to ask Qt for: the face itself when it is a family, the family
// part when it is "family style".
QString FontFamilyOfFace(const QString& face);

}  // namespace halvorin
