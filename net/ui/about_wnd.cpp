#include "net/ui/about_wnd.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include "base/text_format.h"
#include "shell/theme/application_icon.h"
#include "shell/theme/image_list.h"
#include "shell/theme/string_resources.h"
#include "shell/theme/theme_color.h"
#include "shell/theme/theme_font.h"
#include "shell/widgets/flat_tool_button.h"
#include "shell/widgets/gradient_band.h"
#include "shell/widgets/rounded_region.h"
#include "shell/widgets/window_accessible.h"

namespace halvorin {

namespace {
constexpr int kButtonsBitmap = 312;
constexpr int kCloseImage = 0;
constexpr int kAboutText = 233;
constexpr int kTitleText = 57344;
constexpr int kVersionText = 171;
constexpr int kNoticeText = 172;
constexpr int kMargin = 20;
constexpr int kIconSize = 32;
constexpr int kTextIndent = 44;
}  // namespace

CAboutWnd::CAboutWnd(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint) {
    InstallWindowAccessibility();
    setObjectName(kWindowClass);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(LoadQString(kTitleText));
    band_font_ = LoadAppFont(982, FontSize(14, 400));
    title_font_ = LoadAppFont(983, FontSize(14, 400));
    version_font_ = LoadAppFont(984, FontSize(14, 700));
    notice_font_ = LoadAppFont(985, FontSize(14, 700));
    border_ = LoadThemeQColor(635, Rgb(0x96, 0x96, 0x96));
    background_ = LoadThemeQColor(632, Rgb(0xff, 0xff, 0xff));
    band_top_ = LoadThemeQColor(633, Rgb(0xf3, 0xf3, 0xf3));
    band_bottom_ = LoadThemeQColor(634, Rgb(0xe5, 0xe5, 0xe5));
    text_ = LoadThemeQColor(636, Rgb(0x66, 0x66, 0x66));
    icon_ = ApplicationIcon();
    const CImageList buttons =
        CImageList::FromBitmap(kButtonsBitmap, 14, QColor(0, 255, 0)).value_or(CImageList{});
    close_ = new CFlatToolButton(buttons, kCloseImage, kCloseCommand, this);
    close_->move(kWidth - 12 - close_->width(), (kBandHeight - close_->height()) / 2);
    connect(close_, &CFlatToolButton::Clicked, this, &QWidget::close);

    resize(kWidth, kHeight);
    setMask(RoundedRegion(size(), 11));
    const QPoint centre = parent->window()->geometry().center();
    move(centre.x() - kWidth / 2, centre.y() - kHeight / 2);
}

void CAboutWnd::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

QString CAboutWnd::VersionText() const {
    return QString::fromStdU16String(
        FormatString(LoadQString(kVersionText).toStdU16String(),
                     {QStringLiteral(HALVORIN_VERSION).toStdU16String()}));
}

void CAboutWnd::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), background_);
    PaintGradientBand(p, QRect(0, 0, width(), kBandHeight), band_top_, band_bottom_);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(border_);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6.5, 6.5);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.drawLine(0, kBandHeight, width(), kBandHeight);

    p.setPen(text_);
    p.setFont(band_font_);
    p.drawText(QRect(12, 0, width() - 24, kBandHeight), Qt::AlignLeft | Qt::AlignVCenter,
               LoadQString(kAboutText));
    const QRect content = QRect(0, kBandHeight + 1, width(), height() - kBandHeight - 1)
                              .adjusted(kMargin, kMargin, -kMargin, -kMargin);
    icon_.paint(&p, QRect(content.topLeft(), QSize(kIconSize, kIconSize)));
    p.setFont(title_font_);
    p.drawText(QRect(content.left() + kTextIndent, content.top(), content.width() - kTextIndent,
                     kIconSize),
               Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, LoadQString(kTitleText));
    p.setFont(version_font_);
    const QRect version(content.left() + kTextIndent, content.top() + kTextIndent,
                        content.width() - kTextIndent, content.height() - kTextIndent);
    p.drawText(version, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, VersionText());
    p.setFont(notice_font_);
    p.drawText(content, Qt::AlignLeft | Qt::AlignBottom | Qt::TextWordWrap,
               LoadQString(kNoticeText));
}

void CAboutWnd::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || event->position().y() >= kBandHeight) return;
    if (windowHandle() && windowHandle()->startSystemMove()) return;
    moving_by_hand_ = true;
    move_from_ = event->globalPosition().toPoint() - pos();
}

void CAboutWnd::mouseMoveEvent(QMouseEvent* event) {
    if (moving_by_hand_) move(event->globalPosition().toPoint() - move_from_);
}

void CAboutWnd::mouseReleaseEvent(QMouseEvent*) {
    moving_by_hand_ = false;
}

}  // namespace halvorin
