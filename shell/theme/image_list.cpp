#include "shell/theme/image_list.h"

#include <QPaintDevice>
#include <cmath>
#include <utility>

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

constexpr struct {
    qreal scale;
    const char* suffix;
} kLargerDrawings[] = {{1.5, "@1.5x"}, {2, "@2x"}};

}  // namespace

std::optional<QImage> LoadBitmapResource(int id, const char* suffix) {
    const auto bytes = ReadResource(QString("bitmaps/%1%2.png").arg(id).arg(suffix));
    if (!bytes) return std::nullopt;
    QImage image;
    if (!image.loadFromData(*bytes, "PNG")) return std::nullopt;
    return image;
}

CImageList::CImageList(QImage strip, int cell_width, QColor key) : cell_width_(cell_width) {
    // Room for every drawing: references to the first stay good as the
    // others come.
    drawings_.reserve(1 + std::size(kLargerDrawings));
    drawings_.push_back({1, MaskKeyColour(std::move(strip), key)});
}

std::optional<CImageList> CImageList::FromBitmap(int bitmap_id, int cell_width, QColor key) {
    auto image = LoadBitmapResource(bitmap_id);
    if (!image || cell_width <= 0 || image->width() < cell_width) return std::nullopt;
    CImageList list(std::move(*image), cell_width, key);
    list.bitmap_id_ = bitmap_id;
    list.key_ = key;
    return list;
}

void CImageList::LoadLargerDrawings() const {
    if (std::exchange(larger_loaded_, true) || bitmap_id_ < 0) return;
    for (const auto& larger : kLargerDrawings) {
        // A larger drawing that does not hold the same cells is not used.
        auto drawn = LoadBitmapResource(bitmap_id_, larger.suffix);
        if (drawn && drawn->width() == qRound(Base().width() * larger.scale))
            drawings_.push_back({larger.scale, MaskKeyColour(std::move(*drawn), key_)});
    }
}

const QImage& CImageList::Base() const {
    static const QImage none;
    return drawings_.empty() ? none : drawings_.front().strip;
}

// The smallest drawing at least as fine as the device, else the finest:
// at 1.25 the 1.5 drawing is scaled down a little, which blurs less than
// scaling the plain one up.
const CImageList::Drawing& CImageList::DrawingFor(qreal device_pixel_ratio) const {
    if (device_pixel_ratio > 1.01) LoadLargerDrawings();
    for (const Drawing& drawing : drawings_) {
        if (drawing.scale >= device_pixel_ratio - 0.01) return drawing;
    }
    return drawings_.back();
}

QImage CImageList::Cell(const Drawing& drawing, int index) const {
    const int left = qRound(index * cell_width_ * drawing.scale);
    const int width = qRound(cell_width_ * drawing.scale);
    QImage cell = drawing.strip.copy(left, 0, width, drawing.strip.height());
    cell.setDevicePixelRatio(drawing.scale);
    return cell;
}

QImage CImageList::Image(int index) const {
    if (index < 0 || index >= count()) return {};
    return Cell(drawings_.front(), index);
}

QIcon CImageList::Icon(int index) const {
    QIcon icon;
    AddToIcon(icon, index, QIcon::Normal);
    return icon;
}

void CImageList::AddToIcon(QIcon& icon, int index, QIcon::Mode mode) const {
    if (index < 0 || index >= count()) return;
    LoadLargerDrawings();
    for (const Drawing& drawing : drawings_)
        icon.addPixmap(QPixmap::fromImage(Cell(drawing, index)), mode);
}

void CImageList::Draw(QPainter& painter, int index, QPoint at) const {
    Draw(painter, index, QRectF(at, QSizeF(cell_width_, Base().height())));
}

void CImageList::Draw(QPainter& painter, int index, const QRectF& target) const {
    if (index < 0 || index >= count()) return;
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const Drawing& drawing = DrawingFor(ratio * target.width() / cell_width_);
    const QRectF source(index * cell_width_ * drawing.scale, 0, cell_width_ * drawing.scale,
                        drawing.strip.height());
    painter.drawImage(target, drawing.strip, source);
}

}  // namespace halvorin
