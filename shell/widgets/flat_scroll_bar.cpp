#include "shell/widgets/flat_scroll_bar.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <algorithm>

namespace halvorin {

ThumbPlace PlaceThumb(int track, int64_t thumb_numerator, int64_t content, int position,
                      int maximum, bool at_end) {
    ThumbPlace place;
    if (track <= 0 || content <= 0) return place;
    const int height =
        static_cast<int>(std::clamp<int64_t>(thumb_numerator / content, CFlatSB::kMinThumb, track));
    // A thumb that fills the track has nowhere to move: no bar at all.
    if (height >= track) return place;
    place.shown = true;
    place.height = height;
    if (position <= 0) {
        place.top = 0;
    } else if (at_end) {
        place.top = track - height;
    } else {
        const int64_t top = int64_t(track - height) * position / (int64_t(maximum) + 1);
        place.top = static_cast<int>(std::min<int64_t>(top, track - height));
    }
    return place;
}

CFlatSB::CFlatSB(QWidget* control) : QWidget(control), control_(control) {
    const QPalette palette = control->palette();
    colours_ = {palette.color(QPalette::Button), palette.color(QPalette::Button),
                palette.color(QPalette::Button), palette.color(QPalette::Button),
                palette.color(QPalette::Button)};
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::ArrowCursor);
    control->installEventFilter(this);
    hide();
}

void CFlatSB::SetColours(const Colours& colours) {
    colours_ = colours;
    update();
}

int CFlatSB::TrackLength() const {
    return control_->height();
}

bool CFlatSB::Recompute() {
    const ThumbPlace place = Place();
    const bool was_shown = shown_;
    shown_ = place.shown;
    if (!shown_) {
        if (dragging_) dragging_ = false;
        hide();
        if (was_shown) ReserveWidth(0);
        return false;
    }
    thumb_ = QRect(1, place.top, kWidth - 2, place.height);
    if (!was_shown) ReserveWidth(kWidth);
    PlaceOnControl();
    show();
    raise();
    update();
    drag_remainder_ = 0;
    return true;
}

void CFlatSB::PlaceOnControl() {
    setGeometry(control_->width() - kWidth, 0, kWidth, control_->height());
}

bool CFlatSB::eventFilter(QObject* watched, QEvent* event) {
    if (watched == control_ && event->type() == QEvent::Resize) {
        PlaceOnControl();
        Recompute();
    }
    return QWidget::eventFilter(watched, event);
}

void CFlatSB::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), colours_.track);
    painter.setPen(colours_.line);
    painter.drawLine(0, 0, 0, height() - 1);
    painter.fillRect(rect().adjusted(1, 0, -1, 0), colours_.inner);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(zone_ == kThumb ? colours_.hot_thumb : colours_.thumb);
    const qreal corner = (kWidth / 2 + 1) / 2.0;
    painter.drawRoundedRect(QRectF(thumb_), corner, corner);
}

CFlatSB::Zone CFlatSB::ZoneAt(QPoint at) const {
    if (thumb_.contains(at)) return kThumb;
    return rect().contains(at) ? kTrack : kOutside;
}

void CFlatSB::SetZone(Zone zone) {
    if (dragging_ || zone == zone_) return;
    zone_ = zone;
    update();
}

void CFlatSB::mousePressEvent(QMouseEvent* event) {
    control_->setFocus(Qt::MouseFocusReason);
    if (event->button() != Qt::LeftButton || ZoneAt(event->position().toPoint()) != kThumb) return;
    dragging_ = true;
    drag_y_ = event->position().toPoint().y();
}

void CFlatSB::mouseMoveEvent(QMouseEvent* event) {
    const int y = event->position().toPoint().y();
    if (!dragging_) {
        SetZone(ZoneAt(event->position().toPoint()));
        return;
    }
    const int track = TrackLength();
    const int top = std::clamp(thumb_.top() + (y - drag_y_), 0, track - thumb_.height());
    const int moved = top - thumb_.top();
    drag_y_ = y;
    if (moved == 0) return;
    thumb_.moveTop(top);
    update();
    ScrollForDrag(moved, top == 0 || top == track - thumb_.height());
}

void CFlatSB::mouseReleaseEvent(QMouseEvent*) {
    if (!dragging_) return;
    dragging_ = false;
    const QPoint cursor = mapFromGlobal(QCursor::pos());
    zone_ = ZoneAt(cursor);
    Recompute();
}

void CFlatSB::leaveEvent(QEvent*) {
    SetZone(kOutside);
}

void CFlatSB::wheelEvent(QWheelEvent* event) {
    WheelOnBar(event);
}

}  // namespace halvorin
