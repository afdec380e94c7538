#include "shell/theme/stale_text.h"

#include <QDateTime>

#include "base/string_table.h"
#include "base/text_format.h"
#include "shell/theme/string_resources.h"

namespace halvorin {

namespace {

constexpr int kStaleText = 323;
constexpr int kStaleShortText = 324;

QString Formatted(int id, int64_t seconds) {
    return QString::fromStdU16String(
        FormatString(LoadString(id), {LastReadClock(seconds).toStdU16String()}));
}

}  // namespace

QString LastReadClock(int64_t seconds) {
    if (seconds <= 0) return "?";
    const QDateTime time = QDateTime::fromSecsSinceEpoch(seconds);
    return time.date() == QDate::currentDate() ? time.toString("HH:mm:ss")
                                               : time.toString("yyyy-MM-dd HH:mm");
}

QString StaleText(int64_t last_read_seconds) {
    return Formatted(kStaleText, last_read_seconds);
}

QString StaleShortText(int64_t last_read_seconds) {
    return Formatted(kStaleShortText, last_read_seconds);
}

}  // namespace halvorin
