// Where the desktop program reads its resource tables and pictures: the
// resources compiled into it (":/res"), or a directory laid out the same way
// (tests use one to remove a resource and see the call site's default).
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace halvorin {

// An empty root restores the compiled-in resources.
void SetResourceRoot(const QString& root);
QString ResourceRoot();

std::optional<QByteArray> ReadResource(const QString& relative_path);

// The fields after the id on the line of a tab-separated resource table that
// starts with `id`; nothing when the table or the line is missing.
std::optional<QStringList> FindTableEntry(const QString& relative_path, int id);

}  // namespace halvorin
