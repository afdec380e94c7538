#include "shell/theme/theme_resources.h"

#include <QFile>
#include <QRegularExpression>

namespace halvorin {

namespace {

QString& Root() {
    static QString root;
    return root;
}

}  // namespace

void SetResourceRoot(const QString& root) {
    Root() = root;
}

QString ResourceRoot() {
    return Root().isEmpty() ? QStringLiteral(":/res") : Root();
}

std::optional<QByteArray> ReadResource(const QString& relative_path) {
    QFile file(ResourceRoot() + '/' + relative_path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return file.readAll();
}

std::optional<QStringList> FindTableEntry(const QString& relative_path, int id) {
    const auto table = ReadResource(relative_path);
    if (!table) return std::nullopt;
    const QByteArray key = QByteArray::number(id) + '\t';
    for (const QByteArray& line : table->split('\n')) {
        if (!line.startsWith(key)) continue;
        static const QRegularExpression blanks("\\s+");
        return QString::fromUtf8(line.mid(key.size())).split(blanks, Qt::SkipEmptyParts);
    }
    return std::nullopt;
}

}  // namespace halvorin
