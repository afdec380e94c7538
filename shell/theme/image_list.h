// An image list: a bitmap resource cut into cells of a fixed width, the
// cell height being the bitmap's height, with one colour treated as
// transparent (the pictures carry alpha as well).
#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <optional>

namespace halvorin {

// The picture of bitmap resource `id` ("bitmaps/<id>.png" under the
// resource root), or nothing when it is missing or unreadable.
std::optional<QImage> LoadBitmapResource(int id);

class CImageList {
  public:
    CImageList() = default;  // empty: draws nothing
    CImageList(QImage strip, int cell_width, QColor key);

    // Nothing when the bitmap is missing or narrower than one cell.
    static std::optional<CImageList> FromBitmap(int bitmap_id, int cell_width, QColor key);

    int cell_width() const { return cell_width_; }
    int cell_height() const { return strip_.height(); }
    int count() const { return cell_width_ > 0 ? strip_.width() / cell_width_ : 0; }
    bool empty() const { return count() == 0; }

    // Image `index` (from 0); a null image when out of range.
    QImage Image(int index) const;
    // Draws image `index` with its top left at `at`; nothing when out of range.
    void Draw(QPainter& painter, int index, QPoint at) const;

  private:
    QImage strip_;
    int cell_width_ = 0;
};

}  // namespace halvorin
