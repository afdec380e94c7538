// Small pieces the element list's row kinds share: texts from the string
// tables and the element's data, and parts of pictures.
#pragma once

#include <QImage>
#include <QPainter>
#include <QString>
#include <cstring>
#include <initializer_list>
#include <string>

#include "base/string_table.h"
#include "base/text_format.h"
#include "enclosure/model/ses_elem.h"

namespace halvorin::rows {

inline QString Q(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

inline QString Format(int id, std::initializer_list<FormatArg> args) {
    return Q(FormatString(LoadString(id), args));
}

// The SES status codes of an element that is not there (not installed,
// unknown, not available).
inline bool NotPresent(uint8_t status) {
    return status == 5 || status == 7 || status == 8;
}

// A zero-terminated text of at most `size` bytes of the element's data.
inline QString DeviceText(const CSesElem& element, size_t offset, size_t size) {
    const auto* begin = reinterpret_cast<const char*>(element.type_data.data() + offset);
    return QString::fromLocal8Bit(begin, qsizetype(strnlen(begin, size))).trimmed();
}

inline QString SasAddress(const uint8_t* bytes) {
    QString text;
    for (int i = 0; i < 8; ++i)
        text += QString::asprintf("%02X", bytes[i]);
    return text;
}

// Draws part of a picture kept at the list's pixel ratio; `source` is in
// the picture's own (device-independent) coordinates.
inline void DrawPart(QPainter& p, QPoint at, const QImage& image, const QRect& source) {
    const qreal ratio = image.devicePixelRatio();
    const QRectF from(source.x() * ratio, source.y() * ratio, source.width() * ratio,
                      source.height() * ratio);
    p.drawImage(QRectF(at, source.size()), image, from);
}

// Where the element rows' details begin.
inline constexpr int kDetailLeft = 160;
inline constexpr int kNameLeft = 18;

}  // namespace halvorin::rows
