#include "net/ui/agent_wnd.h"

#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWindow>
#include <algorithm>

#include "net/ui/agent_client_bar.h"
#include "shell/theme/application_icon.h"
#include "shell/theme/image_list.h"
#include "shell/theme/shared_look.h"
#include "shell/theme/string_resources.h"
#include "shell/theme/theme_color.h"
#include "shell/theme/theme_font.h"
#include "shell/widgets/application_window.h"
#include "shell/widgets/flat_tool_button.h"
#include "shell/widgets/gradient_band.h"
#include "shell/widgets/message_box.h"
#include "shell/widgets/rounded_region.h"
#include "shell/widgets/window_accessible.h"

namespace halvorin {

namespace {

constexpr int kAgentTitle = 22;
constexpr int kAddText = 153;
constexpr int kDeleteText = 285;
constexpr int kNoTrayNote = 288;
constexpr int kExitTip = 292;
constexpr int kShowMenuText = 293;
constexpr int kManagerMenuText = 294;
constexpr int kAboutMenuText = 233;
constexpr int kExitMenuText = 295;
constexpr int kToolImages = 312;  // 14-px title band pictures
constexpr int kBackImage = 3;
constexpr int kExitImage = 0;
constexpr int kTrayMargin = 10;

}  // namespace

CAgentWnd::CAgentWnd(const QString& title, bool use_tray)
    : QWidget(nullptr, (use_tray ? Qt::Tool : Qt::Window) | Qt::FramelessWindowHint),
      title_(LoadQString(kAgentTitle)) {
    InstallWindowAccessibility();
    setObjectName(kWindowClass);
    setWindowTitle(title);
    setWindowIcon(ApplicationIcon());
    setMouseTracking(true);
    setAutoFillBackground(true);
    setPalette(QPalette(Qt::white));
    title_font_ = LoadAppFont(977, FontSize(14, 400));
    button_font_ = LoadAppFont(978, FontSize(20, 700));
    note_font_ = CreateThemeFont({12, 400, AppFontFace(), kClearTypeQuality});
    band_top_ = LoadThemeQColor(750, Rgb(0xe5, 0xe5, 0xe5));
    band_bottom_ = LoadThemeQColor(751, Rgb(0xdb, 0xdb, 0xdb));
    title_text_ = LoadThemeQColor(752, Rgb(0x66, 0x66, 0x66));
    band_line_ = LoadThemeQColor(753, Rgb(0xcc, 0xcc, 0xcc));
    border_ = LoadThemeQColor(755, Rgb(0x96, 0x96, 0x96));
    note_background_ = LoadThemeQColor(761, Rgb(0xf3, 0xf3, 0xf3));
    button_disabled_ = LoadThemeQColor(416, Rgb(0x99, 0x99, 0x99));
    button_enabled_ = LoadThemeQColor(417, Rgb(0x43, 0xa0, 0xae));
    button_hot_ = LoadThemeQColor(418, Rgb(0x6a, 0xc6, 0xd7));

    client_bar_ = new CAgentClientBar(this);
    connect(List(), &CClientListBox::Changed, this, [this] { update(); });
    const CImageList images =
        CImageList::FromBitmap(kToolImages, 14, QColor(0, 255, 0)).value_or(CImageList());
    tool_buttons_[0] = new CFlatToolButton(images, kBackImage, kManagerModeCommand, this);
    tool_buttons_[0]->SetToolTipText(LoadCommandTip(kManagerModeCommand));
    tool_buttons_[1] = new CFlatToolButton(images, kExitImage, kExitCommand, this);
    tool_buttons_[1]->SetToolTipText(LoadCommandTip(kExitTip));
    for (CFlatToolButton* button : tool_buttons_)
        connect(button, &CFlatToolButton::Clicked, this, &CAgentWnd::OnCommand);

    resize(kWidth, kHeight + NoteHeight());
    if (use_tray)
        CreateTrayIcon(title_);
    else
        move(CornerPlace(std::nullopt));
}

CAgentWnd::~CAgentWnd() = default;

CClientListBox* CAgentWnd::List() const {
    return client_bar_->List();
}

void CAgentWnd::CreateTrayIcon(const QString& title) {
    tray_icon_ = new QSystemTrayIcon(ApplicationIcon(), this);
    tray_icon_->setToolTip(title);
    auto* menu = new QMenu(this);  // owned by this window
    menu->addAction(LoadQString(kShowMenuText), this, [this] { ShowNearTray(QCursor::pos()); });
    menu->addAction(LoadQString(kManagerMenuText), this,
                    [this] { OnCommand(kManagerModeCommand); });
    menu->addAction(LoadQString(kAboutMenuText), this, [this] { OnCommand(kAboutCommand); });
    menu->addSeparator();
    menu->addAction(LoadQString(kExitMenuText), this, [this] { OnCommand(kExitCommand); });
    tray_icon_->setContextMenu(menu);
    connect(tray_icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    ShowNearTray(QCursor::pos());
            });
    tray_icon_->show();
}

void CAgentWnd::OnCommand(int command) {
    if (command == kExitCommand) {
        CMessageBox box;
        if (box.ShowMessageBox(CMessageBox::kQuestion, kExitQuestion) != CMessageBox::kResultYes)
            return;
    }
    if (command == kShowCommand) {
        ShowNearTray(QCursor::pos());
        return;
    }
    if (client_bar_->OnCommand(command)) return;
    emit Command(command);
}

// The bottom right of the work area, 10 px in from its edges; a click left
// of there centres the window on the click instead.
QPoint CAgentWnd::CornerPlace(std::optional<QPoint> click) const {
    QScreen* screen = click ? QGuiApplication::screenAt(*click) : nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect work = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 720);
    QPoint place(work.right() + 1 - kTrayMargin - width(),
                 work.bottom() + 1 - kTrayMargin - height());
    if (click && click->x() < place.x() + width() / 2)
        place.setX(std::clamp(click->x() - width() / 2, work.left(), work.right() - width()));
    return place;
}

void CAgentWnd::ShowNearTray(QPoint click) {
    move(CornerPlace(click));
    show();
    raise();
    activateWindow();
}

// ---- layout ----------------------------------------------------------------------

int CAgentWnd::TitleBandHeight() const {
    return std::max(QFontMetrics(title_font_).height() + 8, 26);
}

int CAgentWnd::ButtonRowHeight() const {
    return QFontMetrics(button_font_).height() + 8 + 16;
}

// Without a notification area the window says why it stays on screen.
int CAgentWnd::NoteHeight() const {
    if (tray_icon_ || windowFlags().testFlag(Qt::Tool)) return 0;
    const QRect text = QFontMetrics(note_font_)
                           .boundingRect(QRect(0, 0, kWidth - 24, 200), Qt::TextWordWrap,
                                         LoadQString(kNoTrayNote));
    return text.height() + 12;
}

void CAgentWnd::resizeEvent(QResizeEvent*) {
    setMask(RoundedRegion(size(), 11));
    LayOut();
}

void CAgentWnd::LayOut() {
    const int band = TitleBandHeight();
    const int bottom = height() - ButtonRowHeight() - NoteHeight();
    client_bar_->setGeometry(1, band, width() - 3, std::max(0, bottom - band));
    int right = width() - 12;
    for (auto it = tool_buttons_.rbegin(); it != tool_buttons_.rend(); ++it) {
        const QSize size = (*it)->sizeHint();
        right -= size.width();
        (*it)->setGeometry(right, (band - size.height()) / 2, size.width(), size.height());
    }
}

QRect CAgentWnd::ButtonRect(Button button) const {
    const QFontMetrics metrics(button_font_);
    const int row_top = height() - ButtonRowHeight();
    const int centre = row_top + ButtonRowHeight() / 2;
    const auto rect_of = [&](const QString& text, int right) {
        const int w = metrics.horizontalAdvance(text) + 40;
        const int h = metrics.height() + 8;
        return QRect(right - w, centre - h / 2, w, h);
    };
    const QRect add = rect_of(LoadQString(kAddText), width() - 20);
    if (button == kAddButton) return add;
    return rect_of(LoadQString(kDeleteText), add.left() - 6);
}

bool CAgentWnd::ButtonEnabled(Button button) const {
    const CClientListBox* list = List();
    if (button == kAddButton) return list->EntryCount() <= CClientListBox::kMaxEntriesForAdd;
    return list->Selected() >= 0;
}

int CAgentWnd::ButtonAt(QPoint at) const {
    for (Button button : {kAddButton, kDeleteButton})
        if (ButtonEnabled(button) && ButtonRect(button).contains(at)) return button;
    return -1;
}

// ---- input -----------------------------------------------------------------------

void CAgentWnd::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (event->button() != Qt::LeftButton) return;
    if (at.y() < TitleBandHeight()) {
        // The title band moves the window: by the window system where it
        // can, else by following the pointer.
        if (!windowHandle() || !windowHandle()->startSystemMove())
            drag_offset_ = event->globalPosition().toPoint() - pos();
        return;
    }
    const int button = ButtonAt(at);
    if (button == kAddButton) OnCommand(CClientListBox::kAddCommand);
    if (button == kDeleteButton) OnCommand(CClientListBox::kDeleteCommand);
}

void CAgentWnd::mouseMoveEvent(QMouseEvent* event) {
    if (drag_offset_) {
        move(event->globalPosition().toPoint() - *drag_offset_);
        return;
    }
    const int hot = ButtonAt(event->position().toPoint());
    if (hot == hot_button_) return;
    hot_button_ = hot;
    setCursor(hot >= 0 ? Qt::PointingHandCursor : Qt::ArrowCursor);
    update();
}

void CAgentWnd::mouseReleaseEvent(QMouseEvent*) {
    drag_offset_.reset();
}

void CAgentWnd::leaveEvent(QEvent*) {
    if (hot_button_ < 0) return;
    hot_button_ = -1;
    unsetCursor();
    update();
}

void CAgentWnd::closeEvent(QCloseEvent* event) {
    // Behind a tray icon, closing the current window only puts it away; the
    // window a mode switch replaced really goes.
    if (tray_icon_ && ApplicationWindow() == this) {
        event->ignore();
        hide();
        return;
    }
    event->accept();
    emit Closed();
}

// ---- painting --------------------------------------------------------------------

void CAgentWnd::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int band = TitleBandHeight();
    PaintGradientBand(p, QRect(0, 0, width(), band), band_top_, band_bottom_, band_line_);
    p.setFont(title_font_);
    p.setPen(title_text_);
    p.drawText(QRect(12, 0, width() - 12, band - 1), Qt::AlignLeft | Qt::AlignVCenter, title_);

    const int row_top = height() - ButtonRowHeight();
    p.fillRect(QRect(0, row_top, width(), 1), band_line_);
    PaintButton(p, kAddButton);
    PaintButton(p, kDeleteButton);
    PaintNote(p);

    p.setPen(border_);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6.5, 6.5);
}

void CAgentWnd::PaintButton(QPainter& p, Button button) const {
    const QRect r = ButtonRect(button);
    const QColor fill = !ButtonEnabled(button)  ? button_disabled_
                        : hot_button_ == button ? button_hot_
                                                : button_enabled_;
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(r, 4.5, 4.5);
    p.setFont(button_font_);
    p.setPen(Qt::white);
    p.drawText(r, Qt::AlignCenter, LoadQString(button == kAddButton ? kAddText : kDeleteText));
}

void CAgentWnd::PaintNote(QPainter& p) const {
    const int note = NoteHeight();
    if (note == 0) return;
    const QRect r(0, height() - ButtonRowHeight() - note, width(), note);
    p.fillRect(r.adjusted(1, 0, -1, 0), note_background_);
    p.fillRect(QRect(0, r.top(), width(), 1), band_line_);
    p.setFont(note_font_);
    p.setPen(title_text_);
    p.drawText(r.adjusted(12, 6, -12, -6), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap,
               LoadQString(kNoTrayNote));
}

}  // namespace halvorin
