#include "net/ui/server_edit_bar.h"

#include <QGuiApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleHints>
#include <QToolTip>

#include "net/ui/server_edit_bar_accessible.h"

#include "net/protocol/host_address.h"
#include "net/protocol/wire_format.h"
#include "shell/theme/shared_look.h"
#include "shell/theme/string_resources.h"
#include "shell/theme/theme_color.h"
#include "shell/theme/theme_font.h"

namespace halvorin {

namespace {

constexpr int kPlaceholderText = 273;
constexpr int kAddToolTip = 274;
constexpr int kRefusalText = 275;

// A name the manager can reach: a host or address and an optional port.
bool IsServerName(const QString& name) {
    if (name.isEmpty() || name.size() > CServerEditBar::kMaxNameLength) return false;
    for (QChar c : name) {
        if (c.isSpace() || c.unicode() < 0x20) return false;
    }
    return ParseHostAddress(name.toStdString(), kDefaultAgentPort).has_value();
}

}  // namespace

CServerEditBar::CServerEditBar(QWidget* parent) : QWidget(parent) {
    setObjectName(kWindowClass);
    setFixedHeight(kHeight);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    InstallServerEditBarAccessibility();
    setAttribute(Qt::WA_OpaquePaintEvent);
    placeholder_ = LoadQString(kPlaceholderText);
    text_ = placeholder_;
    font_ = LoadAppFont(972, FontSize(20, 700));
    background_ = LoadThemeQColor(622, Rgb(96, 134, 215));
    bottom_line_ = LoadThemeQColor(621, Rgb(0x96, 0x96, 0x96));
    border_ = LoadThemeQColor(623, Rgb(0x80, 0x80, 0x80));
    border_hot_ = LoadThemeQColor(624, Rgb(0x43, 0xa0, 0xae));
    border_refused_ = LoadThemeQColor(451, Rgb(0xa5, 0x5b, 0x5b));
    dim_text_ = LoadThemeQColor(625, Rgb(224, 224, 224));
    text_colour_ = LoadThemeQColor(626, Rgb(0x66, 0x66, 0x66));
    add_icons_ = CImageList::FromBitmap(318, 24, QColor(0, 255, 0)).value_or(CImageList{});
    caret_blink_.setInterval(std::max(200, QGuiApplication::styleHints()->cursorFlashTime() / 2));
    connect(&caret_blink_, &QTimer::timeout, this, [this] {
        caret_visible_ = !caret_visible_;
        update(text_rect_.adjusted(-2, 0, 2, 0));
    });
}

QString CServerEditBar::AddButtonName() {
    return LoadQString(kAddToolTip);
}

QRect CServerEditBar::ButtonRect() const {
    return QRect(field_.right() + 1 - field_.height(), field_.top(), field_.height(),
                 field_.height());
}

void CServerEditBar::resizeEvent(QResizeEvent*) {
    field_ = rect().adjusted(12, 0, -12, -12);
    text_rect_ = field_.adjusted(0, 0, -field_.height(), 0).adjusted(6, 6, -6, -6);
}

void CServerEditBar::SetDisabled(bool disabled) {
    disabled_ = disabled;
    if (disabled) SetHover(kOutside);
    update();
}

// ---- painting -------------------------------------------------------------------

void CServerEditBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), background_);
    p.setPen(bottom_line_);
    p.drawLine(0, height() - 1, width() - 1, height() - 1);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(refused_ ? border_refused_ : hover_ != kOutside ? border_hot_ : border_);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(field_).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
    p.setRenderHint(QPainter::Antialiasing, false);

    p.setFont(font_);
    p.setPen(disabled_ || placeholder_shown_ ? dim_text_ : text_colour_);
    if (all_selected_ && !placeholder_shown_) {
        QColor selection = border_hot_;
        selection.setAlpha(70);
        p.fillRect(QRect(text_rect_.left(), text_rect_.top(),
                         QFontMetrics(font_).horizontalAdvance(text_), text_rect_.height()),
                   selection);
    }
    p.drawText(text_rect_, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text_);
    if (hasFocus() && caret_visible_ && !placeholder_shown_) {
        const int x = text_rect_.left() + QFontMetrics(font_).horizontalAdvance(text_.left(caret_));
        const int h = QFontMetrics(font_).height();
        p.fillRect(QRect(x, text_rect_.center().y() - h / 2, 2, h), text_colour_);
    }
    const QRect button = ButtonRect();
    const int icon = hover_ == kOverButton ? 1 : 0;
    add_icons_.Draw(p, icon,
                    QPoint(field_.right() - 3 - add_icons_.cell_width() + 1,
                           button.top() + (button.height() - add_icons_.cell_height()) / 2));
}

// ---- pointer ------------------------------------------------------------------------

void CServerEditBar::SetHover(Hover hover) {
    if (hover == hover_) return;
    hover_ = hover;
    setCursor(hover == kOverButton ? Qt::PointingHandCursor
              : hover == kOverText ? Qt::IBeamCursor
                                   : Qt::ArrowCursor);
    update(field_.adjusted(-1, -1, 1, 1));
}

void CServerEditBar::mouseMoveEvent(QMouseEvent* event) {
    if (disabled_) return;
    const QPoint at = event->position().toPoint();
    SetHover(ButtonRect().contains(at) ? kOverButton : field_.contains(at) ? kOverText : kOutside);
}

void CServerEditBar::leaveEvent(QEvent*) {
    SetHover(kOutside);
}

int CServerEditBar::CaretAt(int x) const {
    // The prefix whose width is nearest to the click, by binary search.
    const QFontMetrics metrics(font_);
    const int target = x - text_rect_.left();
    int low = 0, high = int(text_.size());
    while (low < high) {
        const int mid = (low + high) / 2;
        if (metrics.horizontalAdvance(text_.left(mid + 1)) <= target) {
            low = mid + 1;
        } else {
            high = mid;
        }
    }
    if (low < text_.size()) {
        const int before = metrics.horizontalAdvance(text_.left(low));
        const int after = metrics.horizontalAdvance(text_.left(low + 1));
        if (target - before > after - target) ++low;
    }
    return low;
}

void CServerEditBar::mousePressEvent(QMouseEvent* event) {
    if (disabled_ || event->button() != Qt::LeftButton) return;
    const QPoint at = event->position().toPoint();
    if (ButtonRect().contains(at)) {
        if (!placeholder_shown_) Commit();
        return;
    }
    if (!field_.contains(at)) return;
    if (placeholder_shown_) {
        text_.clear();
        placeholder_shown_ = false;
    }
    caret_ = CaretAt(at.x());
    setFocus(Qt::MouseFocusReason);
    caret_visible_ = true;
    update();
}

// ---- keys -----------------------------------------------------------------------------

void CServerEditBar::keyPressEvent(QKeyEvent* event) {
    if (disabled_ || placeholder_shown_) return;
    if (Shortcut(EditShortcutOf(*event))) {
        caret_visible_ = true;
        update();
        return;
    }
    const int repeat = std::max(1, event->isAutoRepeat() ? 1 : event->count());
    const bool replacing = all_selected_;
    all_selected_ = false;
    switch (event->key()) {
        case Qt::Key_Home:
            caret_ = 0;
            break;
        case Qt::Key_End:
            caret_ = int(text_.size());
            break;
        case Qt::Key_Left:
            caret_ = std::max(0, caret_ - repeat);
            break;
        case Qt::Key_Right:
            caret_ = std::min(int(text_.size()), caret_ + repeat);
            break;
        case Qt::Key_Backspace: {
            if (replacing) {
                ReplaceAll(QString());
                break;
            }
            const int n = std::min(caret_, repeat);
            text_.remove(caret_ - n, n);
            caret_ -= n;
            ClearRefusal();
            break;
        }
        case Qt::Key_Delete:
            if (replacing) {
                ReplaceAll(QString());
                break;
            }
            text_.remove(caret_, std::min(int(text_.size()) - caret_, repeat));
            ClearRefusal();
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            Commit();
            return;
        default:
            // A character typed over the selection replaces it; a key
            // that types nothing (a modifier alone, Escape) keeps it.
            if (replacing && Printable(event->text()).isEmpty())
                all_selected_ = true;
            else if (replacing)
                ReplaceAll(QString());
            Insert(event->text());
            update();
            return;
    }
    caret_visible_ = true;
    update();
}

bool CServerEditBar::Shortcut(EditShortcut shortcut) {
    const QString before = text_;
    const bool taken = ApplyEditShortcut(shortcut, text_, caret_, all_selected_,
                                         [this](const QString& pasted) { Insert(pasted); });
    if (text_ != before) ClearRefusal();
    return taken;
}

void CServerEditBar::ReplaceAll(const QString& text) {
    text_ = text;
    caret_ = int(text_.size());
    ClearRefusal();
}

QString CServerEditBar::Printable(const QString& characters) {
    QString printable;
    for (QChar c : characters) {
        if (c.unicode() > 31 && c.unicode() != 0x7F) printable += c;
    }
    return printable;
}

void CServerEditBar::Insert(const QString& characters) {
    const QString printable = Printable(characters);
    if (printable.isEmpty()) return;
    const QString before = text_;
    text_.insert(caret_, printable);
    // A character that would not fit the field is not taken.
    if (QFontMetrics(font_).horizontalAdvance(text_) > text_rect_.width() ||
        text_.size() > kMaxNameLength) {
        text_ = before;
        return;
    }
    caret_ += int(printable.size());
    ClearRefusal();
    caret_visible_ = true;
    update();
}

bool CServerEditBar::Commit() {
    const QString trimmed = text_.trimmed();
    if (!trimmed.isEmpty() && !IsServerName(trimmed)) {
        Refuse();
        return false;
    }
    committed_ = trimmed;
    text_.clear();
    caret_ = 0;
    ClearRefusal();
    update();
    if (!hasFocus()) ShowPlaceholder();
    if (committed_.isEmpty()) return false;
    emit Command(kAddCommand);
    return true;
}

void CServerEditBar::Refuse() {
    refused_ = true;
    update();
    QToolTip::showText(mapToGlobal(field_.bottomLeft()), LoadQString(kRefusalText), this, field_);
}

void CServerEditBar::ClearRefusal() {
    if (!refused_) return;
    refused_ = false;
    QToolTip::hideText();
    update();
}

// ---- focus ----------------------------------------------------------------------------

void CServerEditBar::focusInEvent(QFocusEvent* event) {
    const bool by_keyboard =
        event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    if (by_keyboard && placeholder_shown_ && !disabled_) {  // ready to type, as a click leaves it
        text_.clear();
        placeholder_shown_ = false;
        caret_ = 0;
    }
    caret_visible_ = true;
    caret_blink_.start();
    update();
}

void CServerEditBar::focusOutEvent(QFocusEvent*) {
    caret_blink_.stop();
    caret_visible_ = false;
    if (text_.isEmpty() && !disabled_) ShowPlaceholder();
    update();
}

void CServerEditBar::ShowPlaceholder() {
    text_ = placeholder_;
    placeholder_shown_ = true;
    caret_ = 0;
}

bool CServerEditBar::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (ButtonRect().contains(help->pos())) {
            QToolTip::showText(help->globalPos(), LoadQString(kAddToolTip), this, ButtonRect());
        } else if (!refused_) {
            QToolTip::hideText();
        }
        return true;
    }
    return QWidget::event(event);
}

}  // namespace halvorin
