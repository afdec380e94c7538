#include "shell/theme/image_list.h"

#include "shell/theme/theme_resources.h"

namespace halvorin {

namespace {

// Pixels of exactly the key colour become transparent.
QImage MaskKeyColour(QImage image, QColor key) {
    image = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb key_rgb = key.rgb() & 0x00FFFFFF;
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(line[x]) == 255 && (line[x] & 0x00FFFFFF) == key_rgb) line[x] = 0;
        }
    }
    return image;
}

}  // namespace

std::optional<QImage> LoadBitmapResource(int id) {
    const auto bytes = ReadResource(QString("bitmaps/%1.png").arg(id));
    if (!bytes) return std::nullopt;
    QImage image;
    if (!image.loadFromData(*bytes, "PNG")) return std::nullopt;
    return image;
}

CImageList::CImageList(QImage strip, int cell_width, QColor key)
    : strip_(MaskKeyColour(std::move(strip), key)), cell_width_(cell_width) {}

std::optional<CImageList> CImageList::FromBitmap(int bitmap_id, int cell_width, QColor key) {
    auto image = LoadBitmapResource(bitmap_id);
    if (!image || cell_width <= 0 || image->width() < cell_width) return std::nullopt;
    return CImageList(std::move(*image), cell_width, key);
}

QImage CImageList::Image(int index) const {
    if (index < 0 || index >= count()) return {};
    return strip_.copy(index * cell_width_, 0, cell_width_, strip_.height());
}

void CImageList::Draw(QPainter& painter, int index, QPoint at) const {
    if (index < 0 || index >= count()) return;
    painter.drawImage(at, strip_, QRect(index * cell_width_, 0, cell_width_, strip_.height()));
}

}  // namespace halvorin
