#include "shell/widgets/message_box.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QToolButton>
#include <utility>

#include "shell/theme/shared_look.h"
#include "shell/theme/string_resources.h"
#include "shell/theme/theme_font.h"
#include "shell/widgets/application_window.h"
#include "shell/widgets/focus_keeper.h"
#include "shell/widgets/message_box_accessible.h"
#include "shell/widgets/post_to_ui.h"
#include "shell/widgets/rounded_region.h"
#include "shell/widgets/window_accessible.h"

namespace halvorin {

namespace {

constexpr int kMeasureWidth = 360;
constexpr int kInset = 16;
constexpr int kIconGap = 8;
constexpr int kBodyTop = CMessageBox::kTitleBandHeight + 1;
constexpr int kYesText = 270;
constexpr int kNoText = 271;
constexpr int kCloseText = 260;
constexpr int kCancelText = 327;
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
    InstallWindowAccessibility();
    InstallMessageBoxAccessibility();
    setObjectName("MessageBox");
    setMouseTracking(true);
    setAttribute(Qt::WA_DeleteOnClose, false);
}

CMessageBox::~CMessageBox() = default;

int CMessageBox::ShowMessageBox(int kind, int text_id) {
    const FocusKeeper keyboard;  // declared first: it acts last, once the owner is enabled
    QPointer<QWidget> owner = ApplicationWindow();
    if (owner) owner->setEnabled(false);
    kind_ = kind;
    if (!Create(kind, text_id)) {
        // Nothing was asked, so nothing may proceed as if it had been.
        if (owner) owner->setEnabled(true);
        return DismissResult();
    }
    QEventLoop loop;
    loop_ = &loop;
    result_ = DismissResult();
    QMetaObject::Connection owner_gone;
    if (owner) {
        owner_gone = connect(owner, &QObject::destroyed, this, [this] { End(DismissResult()); });
    }
    show();
    raise();
    activateWindow();
    setFocus(Qt::ActiveWindowFocusReason);
    PostToUi(this, [this] { emit Waiting(); });
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
    buttons_.clear();
    if (kind == kNotice) {
        buttons_.push_back({QRect(), LoadQString(kCloseText), kResultClose});
    } else if (kind == kQuestion || kind == kQuestionCancel) {
        buttons_.push_back({QRect(), LoadQString(kYesText), kResultYes});
        buttons_.push_back({QRect(), LoadQString(kNoText), kResultNo});
        if (kind == kQuestionCancel)
            buttons_.push_back({QRect(), LoadQString(kCancelText), kResultCancel});
    }
    CreateResources();
    LayOut();
    CreateCloseButton();
    setWindowTitle(LoadQString(kTitleText));
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

    // Right to left: the first button 16 px in from the edge, the others
    // 18 px apart.
    const QFontMetrics button_metrics(title_font_);
    int right = width - 16;
    for (Button& button : buttons_) {
        const int left = right - button_metrics.horizontalAdvance(button.text) - 24;
        button.rect = QRect(left, height - 40, right - left, 24);
        right = left - 18;
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
        close_button_->setIcon(close_images_.Icon(0));
        close_button_->setIconSize(QSize(14, 14));
        close_button_->setFixedSize(20, 20);
        close_button_->setToolTip(LoadQString(kCloseText));
        connect(close_button_, &QToolButton::clicked, this, [this] { End(DismissResult()); });
    }
    close_button_->move(width() - 12 - close_button_->width(),
                        (kTitleBandHeight - close_button_->height()) / 2);
}

QRect CMessageBox::ButtonRect(size_t index) const {
    return index < buttons_.size() ? buttons_[index].rect : QRect();
}

const CMessageBox::Button* CMessageBox::ButtonAt(QPoint point) const {
    for (const Button& button : buttons_)
        if (button.rect.contains(point)) return &button;
    return nullptr;
}

int CMessageBox::DismissResult() const {
    return kind_ == kQuestionCancel ? kResultCancel : kResultNo;
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
    for (const Button& button : buttons_)
        PaintButton(painter, button.rect, button.text);
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
    const Button* button = ButtonAt(event->position().toPoint());
    SetHot(button ? button->rect : QRect());
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
    const Button* button = ButtonAt(event->position().toPoint());
    SetHot(button ? button->rect : QRect());
    if (button) End(button->result);  // released outside every button: the box stays
}

QString CMessageBox::ButtonText(int index) const {
    return index >= 0 && index < ButtonCount() ? buttons_[size_t(index)].text : QString();
}

void CMessageBox::PressButton(int index) {
    if (index >= 0 && index < ButtonCount()) End(buttons_[size_t(index)].result);
}

void CMessageBox::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (!buttons_.empty()) End(buttons_.front().result);
            return;
        case Qt::Key_Escape:
            End(DismissResult());
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

void CMessageBox::leaveEvent(QEvent*) {
    SetHot(QRect());
}

void CMessageBox::closeEvent(QCloseEvent* event) {
    End(DismissResult());
    event->accept();
}

void CMessageBox::End(int result) {
    if (loop_ == nullptr) return;  // not waiting, or already answered: the first answer holds
    result_ = result;
    std::exchange(loop_, nullptr)->quit();
}

}  // namespace halvorin
