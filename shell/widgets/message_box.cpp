#include "shell/widgets/message_box.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <utility>

#include "shell/theme/shared_look.h"
#include "shell/theme/string_resources.h"
#include "shell/theme/theme_font.h"
#include "shell/widgets/application_window.h"
#include "shell/widgets/rounded_region.h"

namespace halvorin {

namespace {

constexpr int kMeasureWidth = 360;
constexpr int kInset = 16;
constexpr int kIconGap = 8;
constexpr int kBodyTop = CMessageBox::kTitleBandHeight + 1;
constexpr int kYesText = 270;
constexpr int kNoText = 271;
constexpr int kCloseText = 260;
constexpr int kTitleText = 57344;
constexpr int kCloseImageBitmap = 312;

int MeasureWrapped(const QFont& font, int width, const QString& text) {
    return QFontMetrics(font)
        .boundingRect(QRect(0, 0, width, 100000), Qt::TextWordWrap, text)
        .height();
}

}  // namespace

CMessageBox::CMessageBox()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName("MessageBox");
    setMouseTracking(true);
    setAttribute(Qt::WA_DeleteOnClose, false);
}

CMessageBox::~CMessageBox() = default;

int CMessageBox::ShowMessageBox(int kind, int text_id) {
    QPointer<QWidget> owner = ApplicationWindow();
    if (owner) owner->setEnabled(false);
    if (!Create(kind, text_id)) {
        // Nothing was asked, so nothing may proceed as if it had been.
        if (owner) owner->setEnabled(true);
        return kind == kNotice ? kResultClose : kResultNo;
    }
    QEventLoop loop;
    loop_ = &loop;
    result_ = kResultNo;
    QMetaObject::Connection owner_gone;
    if (owner) {
        owner_gone = connect(owner, &QObject::destroyed, this, [this] { End(kResultNo); });
    }
    show();
    raise();
    activateWindow();
    QTimer::singleShot(0, this, &CMessageBox::Waiting);
    loop.exec();
    loop_ = nullptr;
    disconnect(owner_gone);
    if (owner) owner->setEnabled(true);
    hide();
    return result_;
}

bool CMessageBox::Create(int kind, int text_id) {
    if (QGuiApplication::primaryScreen() == nullptr) return false;
    kind_ = kind;
    text_ = LoadQString(text_id);
    first_text_ = kind == kQuestion ? LoadQString(kYesText)
                  : kind == kNotice ? LoadQString(kCloseText)
                                    : QString();
    second_text_ = kind == kQuestion ? LoadQString(kNoText) : QString();
    CreateResources();
    LayOut();
    CreateCloseButton();
    return true;
}

void CMessageBox::CreateResources() {
    title_font_ = CreateThemeFont(LoadThemeFont(992, FontSize(15, 700), AppFontFace()));
    text_font_ = CreateThemeFont(LoadThemeFont(993, FontSize(15, 400), AppFontFace()));
    background_ = LoadThemeColor(766, Rgb(51, 102, 204));
    band_top_ = LoadThemeColor(768, Rgb(229, 229, 229));
    band_bottom_ = LoadThemeColor(769, Rgb(219, 219, 219));
    frame_ = LoadThemeColor(767, Rgb(102, 102, 102));
    title_colour_ = LoadThemeColor(770, Rgb(0, 255, 0));
    button_ = LoadThemeColor(417, Rgb(128, 128, 128));
    hot_button_ = LoadThemeColor(418, Rgb(192, 192, 192));
    button_outline_ = LoadThemeColor(430, Rgb(0, 0, 0));
}

void CMessageBox::LayOut() {
    const int text_width = kMeasureWidth - 2 * kInset - (kIconSize + kIconGap);
    const int text_height = MeasureWrapped(text_font_, text_width, text_);
    const int height = std::max(text_height, kIconSize) + 99;
    const int width = 3 * height;

    const QFontMetrics button_metrics(title_font_);
    first_button_ = QRect();
    second_button_ = QRect();
    if (!first_text_.isEmpty()) {
        const int left = width - button_metrics.horizontalAdvance(first_text_) - 40;
        first_button_ = QRect(left, height - 40, width - 16 - left, 24);
    }
    if (!second_text_.isEmpty() && !first_button_.isNull()) {
        const int right = first_button_.left() - 18;
        const int left = right - button_metrics.horizontalAdvance(second_text_) - 24;
        second_button_ = QRect(left, height - 40, right - left, 24);
    }

    const QRect body(kInset, kBodyTop + kInset, width - 2 * kInset, height - kBodyTop - 2 * kInset);
    const int text_left = body.left() + kIconSize + kIconGap;
    const int drawn_height = MeasureWrapped(text_font_, body.right() + 1 - text_left, text_);
    const int text_top = body.top() + std::max(0, (kIconSize - drawn_height) / 2);
    text_rect_ = QRect(text_left, text_top, body.right() + 1 - text_left, drawn_height);

    setFixedSize(width, height);
    const QWidget* owner = ApplicationWindow();
    const QRect over = owner && owner->isVisible() ? owner->frameGeometry()
                                                   : QGuiApplication::primaryScreen()->geometry();
    move(over.center() - QPoint(width / 2, height / 2));
    setMask(RoundedRegion(size(), 11));
}

void CMessageBox::CreateCloseButton() {
    if (close_button_ == nullptr) {
        auto list = CImageList::FromBitmap(kCloseImageBitmap, 14, QColor(0, 255, 0));
        close_images_ = list ? std::move(*list) : CImageList();
        close_button_ = new QToolButton(this);  // owned by this widget
        close_button_->setObjectName("CloseButton");
        close_button_->setAutoRaise(true);
        close_button_->setFocusPolicy(Qt::NoFocus);
        close_button_->setIcon(QIcon(QPixmap::fromImage(close_images_.Image(0))));
        close_button_->setIconSize(QSize(14, 14));
        close_button_->setFixedSize(20, 20);
        close_button_->setToolTip(LoadQString(kCloseText));
        connect(close_button_, &QToolButton::clicked, this, [this] { End(kResultNo); });
    }
    close_button_->move(width() - 12 - close_button_->width(),
                        (kTitleBandHeight - close_button_->height()) / 2);
}

QRect CMessageBox::ButtonAt(QPoint point) const {
    if (!first_button_.isNull() && first_button_.contains(point)) return first_button_;
    if (!second_button_.isNull() && second_button_.contains(point)) return second_button_;
    return {};
}

void CMessageBox::SetHot(QRect rect) {
    setCursor(rect.isNull() ? Qt::ArrowCursor : Qt::PointingHandCursor);
    if (rect == hot_) return;
    const QRect old = hot_;
    hot_ = rect;
    if (!old.isNull()) update(old);
    if (!hot_.isNull()) update(hot_);
}

void CMessageBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), ToQColor(background_));
    QLinearGradient band(0, 0, 0, kTitleBandHeight);
    band.setColorAt(0, ToQColor(band_top_));
    band.setColorAt(1, ToQColor(band_bottom_));
    painter.fillRect(0, 0, width(), kTitleBandHeight, band);

    painter.setPen(QPen(ToQColor(frame_), 1));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawRoundedRect(QRectF(0.5, 0.5, width() - 1, height() - 1), 6.5, 6.5);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.drawLine(0, kTitleBandHeight, width(), kTitleBandHeight);

    painter.setFont(title_font_);
    painter.setPen(ToQColor(title_colour_));
    painter.drawText(QRect(12, 0, width() - 12, kTitleBandHeight),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     LoadQString(kTitleText));

    SharedImageList(7).Draw(painter, 2, QPoint(kInset, kBodyTop + kInset));
    painter.setFont(text_font_);
    painter.setPen(Qt::black);
    painter.drawText(text_rect_, Qt::TextWordWrap, text_);

    painter.setRenderHint(QPainter::Antialiasing);
    PaintButton(painter, first_button_, first_text_);
    PaintButton(painter, second_button_, second_text_);
}

void CMessageBox::PaintButton(QPainter& painter, QRect rect, const QString& text) const {
    if (rect.isNull() || text.isEmpty()) return;
    painter.setPen(QPen(ToQColor(button_outline_), 1));
    painter.setBrush(ToQColor(rect == hot_ ? hot_button_ : button_));
    painter.drawRoundedRect(QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5), 3.5, 3.5);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(Qt::white);
    painter.setFont(title_font_);
    painter.drawText(rect, Qt::AlignCenter | Qt::TextSingleLine, text);
}

void CMessageBox::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) {
        move(event->globalPosition().toPoint() - drag_offset_);
        return;
    }
    SetHot(ButtonAt(event->position().toPoint()));
}

void CMessageBox::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    if (event->position().y() < kTitleBandHeight) {
        // The title band is the box's caption: it drags the box.
        dragging_ = true;
        drag_offset_ = event->globalPosition().toPoint() - pos();
    }
}

void CMessageBox::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    if (dragging_) {
        dragging_ = false;
        return;
    }
    SetHot(ButtonAt(event->position().toPoint()));
    if (hot_.isNull()) return;  // released outside every button: the box stays
    if (hot_ == first_button_)
        End(kind_ == kQuestion ? kResultYes : kResultClose);
    else if (hot_ == second_button_)
        End(kResultNo);
}

void CMessageBox::leaveEvent(QEvent*) {
    SetHot(QRect());
}

void CMessageBox::closeEvent(QCloseEvent* event) {
    End(kResultNo);
    event->accept();
}

void CMessageBox::End(int result) {
    if (loop_ == nullptr) return;  // not waiting, or already answered: the first answer holds
    result_ = result;
    std::exchange(loop_, nullptr)->quit();
}

}  // namespace halvorin
