// Where the window renderer's pictures go.
#pragma once

#include <QString>
#include <QWidget>

namespace halvorin {

// Saves what the widget shows now; prints the path, or says why it failed.
bool SaveWidget(QWidget& widget, const QString& path);

}  // namespace halvorin
