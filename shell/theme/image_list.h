// An image list: a bitmap resource cut into cells of a fixed width, the
// cell height being the bitmap's height, with one colour treated as
// transparent (the pictures carry alpha as well). Bitmap resources come
// drawn at 1, 1.5 and 2 times their size; a list draws the one that the
// painter's device pixel ratio shows pixel for pixel, so icons stay crisp
// on screens scaled by 150 % or 200 %.
#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <optional>
#include <vector>

namespace halvorin {

// The picture of bitmap resource `id` ("bitmaps/<id><suffix>.png" under the
// resource root; suffix "@1.5x" or "@2x" for the larger drawings), or
// nothing when it is missing or unreadable.
std::optional<QImage> LoadBitmapResource(int id, const char* suffix = "");

class CImageList {
  public:
    CImageList() = default;  // empty: draws nothing
    CImageList(QImage strip, int cell_width, QColor key);

    // Nothing when the bitmap is missing or narrower than one cell. Its
    // larger drawings are read where the resources have them, the first
    // time a scaled screen or an icon needs them (start-up does not wait).
    static std::optional<CImageList> FromBitmap(int bitmap_id, int cell_width, QColor key);

    int cell_width() const { return cell_width_; }
    int cell_height() const { return Base().height(); }
    int count() const { return cell_width_ > 0 ? Base().width() / cell_width_ : 0; }
    bool empty() const { return count() == 0; }

    // Image `index` (from 0) at scale 1; a null image when out of range.
    QImage Image(int index) const;
    // Image `index` at every scale the list has, for buttons and menus.
    QIcon Icon(int index) const;
    void AddToIcon(QIcon& icon, int index, QIcon::Mode mode) const;
    // Draws image `index` with its top left at `at` (in the painter's
    // logical pixels), from the drawing that suits the painter's device;
    // nothing when out of range.
    void Draw(QPainter& painter, int index, QPoint at) const;
    // The same, stretched over `target`.
    void Draw(QPainter& painter, int index, const QRectF& target) const;

  private:
    struct Drawing {
        qreal scale;
        QImage strip;
    };
    const QImage& Base() const;
    void LoadLargerDrawings() const;
    const Drawing& DrawingFor(qreal device_pixel_ratio) const;
    QImage Cell(const Drawing& drawing, int index) const;

    // By growing scale, the first at 1; the larger ones come on first use.
    mutable std::vector<Drawing> drawings_;
    int cell_width_ = 0;
    int bitmap_id_ = -1;  // where the larger drawings are; -1: there are none
    QColor key_;
    mutable bool larger_loaded_ = false;
};

}  // namespace halvorin
