#include "res/compiled_resources.h"

#include <QFile>

namespace halvorin {

bool ResourcesCompiledIn() {
    return QFile::exists(QStringLiteral(":/res/strings/en.tsv"));
}

}  // namespace halvorin
