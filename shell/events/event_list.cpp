#include "shell/events/event_list.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>

#include "base/text_format.h"
#include "shell/theme/shared_look.h"
#include "shell/theme/string_resources.h"
#include "shell/theme/theme_color.h"
#include "shell/theme/theme_font.h"
#include "shell/widgets/post_to_ui.h"
#include "shell/widgets/wrapped_text.h"

namespace halvorin {

namespace {

constexpr int kLevelIconsBitmap = 307;
constexpr int kLevelIconWidth = 14;
constexpr int kEditingIconsBitmap = 319;
constexpr int kEditingIconWidth = 16;
enum EditingIcon { kArmIcon = 0, kArmIconHot = 1, kDeleteMark = 2, kDeleteMarkHot = 3 };
constexpr int kTopBottomInset = 10;
constexpr int kLineGap = 6;
constexpr int kWheelRows = 3;
constexpr int kNewEventsText = 325;
const QColor kNewEventsFill(62, 152, 170, 235);

std::u16string U16(const QString& text) {
    return text.toStdU16String();
}

QString FormatMessage(int message_id, const QStringList& arguments) {
    const std::u16string format = U16(LoadQString(message_id));
    const auto argument = [&](int i) {
        return i < arguments.size() ? U16(arguments[i]) : std::u16string();
    };
    // The program's messages take at most two texts.
    return QString::fromStdU16String(
        CapitalizeFirst(FormatString(format, {argument(0), argument(1), argument(2)})));
}

void DrawIconCentred(QPainter& p, const CImageList& icons, int index, const QRect& zone) {
    icons.Draw(p, index,
               {zone.left() + (zone.width() - icons.cell_width()) / 2,
                zone.top() + (zone.height() - icons.cell_height()) / 2});
}

}  // namespace

CEventList::CEventList(Clock& clock, QWidget* parent)
    : CPaintedList(parent), clock_(clock), time_format_(clock.NowSeconds()) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    SetWheelRows(kWheelRows);
    last_trim_time_ = clock_.NowSeconds();
    background_ = LoadThemeQColor(603, Rgb(62, 59, 67));
    text_colour_ = LoadThemeQColor(605, Rgb(255, 255, 255));
    separator_ = LoadThemeQColor(604, Rgb(0x5e, 0x61, 0x67));
    delete_zone_ = LoadThemeQColor(451, Rgb(0xa5, 0x5b, 0x5b));
    delete_zone_hot_ = LoadThemeQColor(452, Rgb(0x67, 0x0b, 0x00));
    source_font_ = LoadAppFont(974, FontSize(14, 700));
    time_font_ = LoadAppFont(975, FontSize(14, 700));
    message_font_ = LoadAppFont(976, FontSize(14, 400));
    const QColor key(0, 255, 0);
    level_icons_ =
        CImageList::FromBitmap(kLevelIconsBitmap, kLevelIconWidth, key).value_or(CImageList{});
    editing_icons_ =
        CImageList::FromBitmap(kEditingIconsBitmap, kEditingIconWidth, key).value_or(CImageList{});

    source_line_height_ = QFontMetrics(source_font_).height();
    const int two_message_lines =
        QFontMetrics(message_font_)
            .boundingRect(QRect(0, 0, 10000, 10000), Qt::TextWordWrap, QStringLiteral("TEST\nTEST"))
            .height();
    item_row_height_ = source_line_height_ + two_message_lines + 26;

    rows_.push_back(nullptr);  // the spacer: top insertions go above it
    ScrollBar().SetColours(
        {LoadThemeQColor(606, Rgb(62, 59, 67)), LoadThemeQColor(607, Rgb(62, 59, 67)),
         LoadThemeQColor(606, Rgb(62, 59, 67)), LoadThemeQColor(608, Rgb(0xcc, 0xcc, 0xcc)),
         LoadThemeQColor(609, Rgb(0x66, 0x66, 0x66))});
    tick_.setInterval(1000);
    connect(&tick_, &QTimer::timeout, this, &CEventList::OneSecondTick);
    tick_.start();
}

CEventList::~CEventList() {
    DropScrollBar();
    rows_.clear();
}

// ---- adding and removing rows ----------------------------------------------------------

int CEventList::AddEvent(int64_t time, int level, const QString& source, int message_id,
                         const QStringList& arguments, Position position) {
    auto item =
        std::make_unique<CEventItem>(time, source, FormatMessage(message_id, arguments), level);
    int index = 0;
    if (position == Position::kBottom) {
        if (redraw_suspended_) ResumeRedraw();
        if (FollowingNewest()) {
            follow_newest_ = true;
        } else {
            ++unseen_events_;
        }
        rows_.push_back(std::move(item));
        index = int(rows_.size()) - 1;
        RowsInserted(index, 1);
    } else {
        if (rows_.size() >= size_t(kMaxRows)) return -1;
        SuspendRedraw();
        rows_.push_front(std::move(item));
        // What was the first visible row stays first; so do the marks.
        RowsInserted(0, 1);
        if (armed_row_ >= 0) ++armed_row_;
        if (hot_row_ >= 0) ++hot_row_;
    }
    emit EventAdded(*rows_[size_t(index)]);
    if (clock_.NowSeconds() - last_trim_time_ >= kTrimSeconds) {
        Trim(position == Position::kBottom);
        if (position == Position::kBottom) index = int(rows_.size()) - 1;
    }
    ContentChanged();
    return index;
}

void CEventList::Trim(bool scroll_to_end) {
    const bool was_suspended = redraw_suspended_;
    SuspendRedraw();
    int removed = 0;
    // Down to the cap, not below it: the row just added is never the one
    // that goes, and a full list is exactly the one that refuses insertions.
    while (rows_.size() > size_t(kMaxRows)) {
        rows_.pop_front();
        ++removed;
    }
    if (removed > 0) {
        RowsRemoved(0, removed);
        armed_row_ = armed_row_ < removed ? -1 : armed_row_ - removed;
        hot_row_ = hot_row_ < removed ? -1 : hot_row_ - removed;
    }
    if (!was_suspended) ResumeRedraw();
    last_trim_time_ = clock_.NowSeconds();
    if (scroll_to_end) {
        ScrollBar().ContentChanged();
        SetTopRow(ScrollBar().LastTopRow());
    }
}

void CEventList::DeleteRow(int row) {
    if (!Item(row)) return;
    emit EventDeleted(*rows_[size_t(row)]);
    rows_.erase(rows_.begin() + row);
    RowsRemoved(row, 1);
    armed_row_ = -1;
    hot_row_ = -1;
    hot_zone_ = kNoZone;
    setCursor(Qt::ArrowCursor);
    SetTopRow(std::min(TopRow(), std::max(0, RowCount() - 1)));
    ContentChanged();
    update();
}

void CEventList::ContentChanged() {
    // Summing 10000 row heights per event would make a burst quadratic: the
    // bar catches up once the burst is over.
    if (content_change_queued_) return;
    content_change_queued_ = true;
    PostToUi(this, [this] {
        content_change_queued_ = false;
        ScrollBar().ContentChanged();
        if (std::exchange(follow_newest_, false)) SetTopRow(ScrollBar().LastTopRow());
        if (!redraw_suspended_) update();
    });
}

// ---- suspension and the one-second tick --------------------------------------------------

void CEventList::SuspendRedraw() {
    if (redraw_suspended_) return;
    redraw_suspended_ = true;
    suspended_at_ms_ = clock_.TickMs();
    setUpdatesEnabled(false);
}

void CEventList::ResumeRedraw() {
    if (!redraw_suspended_) return;
    redraw_suspended_ = false;
    setUpdatesEnabled(true);  // repaints the whole list
    ScrollBar().Recompute();
}

void CEventList::ScrollToEnd() {
    ScrollBar().ContentChanged();
    SetTopRow(ScrollBar().LastTopRow());
    ResumeRedraw();
}

void CEventList::OneSecondTick() {
    const int64_t now = clock_.NowSeconds();
    // Trimming here too keeps the list bounded when events keep arriving
    // just after each tick; it keeps the operator's place in the list.
    if (now - last_trim_time_ >= kTrimSeconds) Trim(false);
    if (redraw_suspended_ && clock_.TickMs() - suspended_at_ms_ >= kResumeMs) ResumeRedraw();
}

// ---- geometry ----------------------------------------------------------------------------

const CEventItem* CEventList::Item(int row) const {
    return row >= 0 && row < RowCount() ? rows_[size_t(row)].get() : nullptr;
}

int CEventList::RowHeight(int row) const {
    return Item(row) ? item_row_height_ : 0;
}

bool CEventList::FollowingNewest() const {
    return TopRow() >= ScrollBar().LastTopRow() - 1;
}

void CEventList::SetTopRow(int row) {
    if (std::clamp(row, 0, std::max(0, RowCount() - 1)) >= ScrollBar().LastTopRow()) {
        unseen_events_ = 0;  // the newest are in view
    }
    CPaintedList::SetTopRow(row);
}

QString CEventList::RowText(int row) const {
    const CEventItem* item = Item(row);
    if (!item) return {};
    return QString("%1, %2: %3").arg(item->source, TimeText(item->time), item->text);
}

QRect CEventList::ArmZone(int row) const {
    const QRect r = RowRect(row);
    return r.isEmpty() ? QRect() : QRect(r.left() + kSideInset, r.top(), kZoneWidth, r.height());
}

QRect CEventList::DeleteZone(int row) const {
    const QRect r = RowRect(row);
    return r.isEmpty() ? QRect()
                       : QRect(r.right() + 1 - kZoneWidth, r.top(), kZoneWidth, r.height());
}

CEventList::Zone CEventList::ZoneAt(QPoint at, int* row_out) const {
    const int row = RowAt(at);
    if (row_out) *row_out = row;
    if (!editing_ || !Item(row)) return kNoZone;
    if (row == armed_row_) return DeleteZone(row).contains(at) ? kDeleteZone : kNoZone;
    return ArmZone(row).contains(at) ? kArmZone : kNoZone;
}

QRect CEventList::ContentRect(int row, const QRect& r) const {
    QRect content = r.adjusted(kSideInset, kTopBottomInset, -kSideInset, -kTopBottomInset);
    if (editing_ && row == armed_row_) {
        content.setRight(r.right() - kArmedRightInset);
    } else if (editing_) {
        content.setLeft(content.left() + kEditingIndent);
    }
    return content;
}

QString CEventList::TimeText(int64_t time) const {
    return QString::fromStdU16String(time_format_.Format(time, clock_.NowSeconds()));
}

// ---- painting ----------------------------------------------------------------------------

void CEventList::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.fillRect(event->rect(), background_);
    PaintRows(p, event->region());
    if (unseen_events_ > 0) PaintNewEventsMarker(p);
}

QRect CEventList::NewEventsMarker() const {
    if (unseen_events_ <= 0) return {};
    const QString text = FormatMessage(kNewEventsText, {QString::number(unseen_events_)});
    const int width = QFontMetrics(source_font_).horizontalAdvance(text) + 24;
    const int height = QFontMetrics(source_font_).height() + 10;
    const int right = ListWidth() - 12;
    return {right - width, this->height() - height - 8, width, height};
}

// A pill at the bottom, over the rows: there is more below.
void CEventList::PaintNewEventsMarker(QPainter& p) {
    const QRect marker = NewEventsMarker();
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kNewEventsFill);
    p.drawRoundedRect(QRectF(marker), marker.height() / 2.0, marker.height() / 2.0);
    p.setPen(Qt::white);
    p.setFont(source_font_);
    p.drawText(marker, Qt::AlignCenter | Qt::TextSingleLine,
               FormatMessage(kNewEventsText, {QString::number(unseen_events_)}));
    p.restore();
}

void CEventList::PaintRow(QPainter& p, int row, const QRect& r) {
    const CEventItem& item = *rows_[size_t(row)];
    p.setPen(separator_);
    p.drawLine(r.left() + kSideInset, r.bottom(), r.right(), r.bottom());

    if (editing_ && row == armed_row_) {
        const QRect zone = DeleteZone(row);
        const bool hot = row == hot_row_ && hot_zone_ == kDeleteZone;
        p.fillRect(zone, hot ? delete_zone_hot_ : delete_zone_);
        DrawIconCentred(p, editing_icons_, hot ? kDeleteMarkHot : kDeleteMark, zone);
    } else if (editing_) {
        const bool hot = row == hot_row_ && hot_zone_ == kArmZone;
        DrawIconCentred(p, editing_icons_, hot ? kArmIconHot : kArmIcon, ArmZone(row));
    }

    const QRect content = ContentRect(row, r);
    if (item.level == kEventWarning || item.level == kEventError)
        level_icons_.Draw(p, item.level - 1, content.topLeft());
    const int text_left = content.left() + kLevelIconWidth + kIconGap;

    p.setPen(text_colour_);
    p.setFont(source_font_);
    const QFontMetrics source_metrics(source_font_);
    const int source_room = std::max(0, content.right() + 1 - text_left);
    const QString source = source_metrics.elidedText(item.source, Qt::ElideRight, source_room);
    p.drawText(QRect(text_left, content.top(), source_room, source_line_height_),
               Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, source);

    // The time goes right-aligned after the source, only where it fits whole.
    const QString time = TimeText(item.time);
    const int time_left = text_left + source_metrics.horizontalAdvance(source) + kIconGap;
    const int time_room = content.right() + 1 - time_left;
    if (QFontMetrics(time_font_).horizontalAdvance(time) <= time_room) {
        p.setFont(time_font_);
        p.drawText(QRect(time_left, content.top(), time_room, source_line_height_),
                   Qt::AlignRight | Qt::AlignTop | Qt::TextSingleLine, time);
    }

    const QRect message(text_left, content.top() + source_line_height_ + kLineGap,
                        content.right() + 1 - text_left,
                        content.bottom() + 1 - (content.top() + source_line_height_ + kLineGap));
    DrawWrappedText(p, message, message_font_, item.text);
}

void CEventList::resizeEvent(QResizeEvent*) {
    ScrollBar().ContentChanged();
    // A taller pane shows more rows: those scrolled out above come back
    // rather than leaving empty space below the newest.
    if (TopRow() > ScrollBar().LastTopRow()) SetTopRow(ScrollBar().LastTopRow());
}

void CEventList::RepaintRow(int row) {
    const QRect r = RowRect(row);
    if (!r.isEmpty()) update(r);
}

// ---- editing -----------------------------------------------------------------------------

bool CEventList::OnCommand(int id) {
    if (id != kEditCommand && id != kExitEditCommand) return false;
    editing_ = id == kEditCommand;
    armed_row_ = -1;
    hot_row_ = -1;
    hot_zone_ = kNoZone;
    setCursor(Qt::ArrowCursor);
    update();
    return true;
}

void CEventList::SetArmedRow(int row) {
    if (row == armed_row_) return;
    RepaintRow(armed_row_);
    armed_row_ = row;
    RepaintRow(row);
}

void CEventList::SetHot(int row, Zone zone) {
    if (row == hot_row_ && zone == hot_zone_) return;
    RepaintRow(hot_row_);
    hot_row_ = zone == kNoZone ? -1 : row;
    hot_zone_ = zone;
    RepaintRow(hot_row_);
    setCursor(zone == kNoZone ? Qt::ArrowCursor : Qt::PointingHandCursor);
}

void CEventList::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton &&
        NewEventsMarker().contains(event->position().toPoint())) {
        ScrollToEnd();
        return;
    }
    if (!editing_ || event->button() != Qt::LeftButton) return;
    int row = -1;
    const Zone zone = ZoneAt(event->position().toPoint(), &row);
    if (row >= 0 && row == armed_row_) {
        if (zone == kDeleteZone) {
            DeleteRow(row);
        } else {
            SetArmedRow(-1);
        }
        return;
    }
    SetArmedRow(zone == kArmZone ? row : -1);
    SetHot(row, ZoneAt(event->position().toPoint()));
}

void CEventList::mouseMoveEvent(QMouseEvent* event) {
    if (!editing_) return;
    int row = -1;
    const Zone zone = ZoneAt(event->position().toPoint(), &row);
    SetHot(row, zone);
}

void CEventList::leaveEvent(QEvent*) {
    SetHot(-1, kNoZone);
}

void CEventList::ActivateRow(int row) {
    if (RowHasAction(row)) SetArmedRow(row == armed_row_ ? -1 : row);
}

// In editing mode Delete deletes the armed row; the other keys move through the rows.
void CEventList::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete) {
        if (editing_ && armed_row_ >= 0) DeleteRow(armed_row_);
        return;
    }
    CPaintedList::keyPressEvent(event);
}

}  // namespace halvorin
