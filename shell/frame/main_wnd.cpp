#include "shell/frame/main_wnd.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <vector>

#include "base/host_name.h"
#include "base/log.h"
#include "enclosure/model/ses_dev.h"
#include "enclosure/model/ses_domain.h"
#include "enclosure/poll/standing_events.h"
#include "net/ui/caption_bar.h"
#include "shell/events/event_pane.h"
#include "shell/frame/main_tool_bar.h"
#include "shell/frame/right_pane.h"
#include "shell/frame/right_tool_bar.h"
#include "shell/theme/application_icon.h"
#include "shell/theme/theme_color.h"
#include "shell/tree/enc_tree.h"
#include "shell/tree/left_pane.h"
#include "shell/widgets/message_box.h"
#include "shell/widgets/window_accessible.h"
#include "views/elem_list_box.h"
#include "views/modal_operation.h"

namespace halvorin {

namespace {

constexpr int kBusyNotice = 276;
constexpr int kSplitterMargin = 3;  // a splitter stays this far inside the right and bottom edges

Qt::Edges EdgesOf(int code) {
    switch (code) {
        case CMainWnd::kHitLeft:
            return Qt::LeftEdge;
        case CMainWnd::kHitRight:
            return Qt::RightEdge;
        case CMainWnd::kHitTop:
            return Qt::TopEdge;
        case CMainWnd::kHitBottom:
            return Qt::BottomEdge;
        case CMainWnd::kHitTopLeft:
            return Qt::TopEdge | Qt::LeftEdge;
        case CMainWnd::kHitTopRight:
            return Qt::TopEdge | Qt::RightEdge;
        case CMainWnd::kHitBottomLeft:
            return Qt::BottomEdge | Qt::LeftEdge;
        case CMainWnd::kHitBottomRight:
            return Qt::BottomEdge | Qt::RightEdge;
        default:
            return {};
    }
}

bool AnyUpgradeRunning(DomainRegistry* registry) {
    if (!registry) return false;
    for (const Ref<CSesDomain>& domain : registry->Snapshot()) {
        for (const Ref<CSesDev>& device : SnapshotDevices(domain.get())) {
            if (device->Flags() & kDeviceUpgrading) return true;
        }
    }
    return false;
}

constexpr int kStandingSavePeriodMs = 10'000;

}  // namespace

CMainWnd::CMainWnd(const QString& title, const ManagerSetup& setup)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), registry_(setup.registry) {
    InstallWindowAccessibility();
    setObjectName(kWindowClass);
    setWindowTitle(title);
    setWindowIcon(ApplicationIcon());
    setMouseTracking(true);
    background_ = LoadThemeQColor(406, Rgb(51, 102, 204));
    border_ = LoadThemeQColor(407, Rgb(0, 0, 0));

    caption_bar_ = new CCaptionBar(this);
    main_tool_bar_ = new CMainToolBar(this);
    static DomainRegistry no_hosts;
    left_pane_ = new CLeftPane(setup.registry ? *setup.registry : no_hosts, this);
    right_pane_ = new CRightPane(setup.registry, this);
    event_pane_ = new CEventPane(setup.history_directory, *setup.clock, this);
    left_pane_->SetRightPane(right_pane_);
    connect(right_pane_, &CRightPane::OpenSubEnc, left_pane_, &CLeftPane::OpenSubEnc);
    connect(right_pane_, &CRightPane::SubEncRenamed, left_pane_, &CLeftPane::SubEncRenamed);
    connect(main_tool_bar_, &CMainToolBar::Command, this, &CMainWnd::OnCommand);
    drag_bar_ = new QWidget(this);
    drag_bar_->setAttribute(Qt::WA_TransparentForMouseEvents);
    drag_bar_->setAutoFillBackground(true);
    QPalette palette = drag_bar_->palette();
    palette.setColor(QPalette::Window, QColor(0, 0, 0, 150));
    drag_bar_->setPalette(palette);
    drag_bar_->hide();
    OrderTabStops();
    left_pane_->Tree()->setFocus(Qt::OtherFocusReason);  // where the window starts

    const QScreen* screen = QGuiApplication::primaryScreen();
    setGeometry(InitialPlacement(screen ? screen->availableGeometry() : QRect(0, 0, 1280, 720)));
    splitter_x_ = width() / 3;
    splitter_y_ = height() * 3 / 4;
    last_height_ = height();
    LayOutPanes();
    if (setup.registry) StartManager(setup);
}

CMainWnd::~CMainWnd() = default;

// Tab goes from the caption's buttons to the toolbar, the host entry and the
// tree, then to the event list and last to the right pane; within each area
// the stops keep the order they were made in.
void CMainWnd::OrderTabStops() {
    std::vector<QWidget*> stops;
    for (QWidget* area : std::initializer_list<QWidget*>{caption_bar_, main_tool_bar_, left_pane_,
                                                         event_pane_, right_pane_}) {
        for (QWidget* widget : area->findChildren<QWidget*>()) {
            if (widget->focusPolicy() & Qt::TabFocus) stops.push_back(widget);
        }
    }
    for (size_t i = 1; i < stops.size(); ++i)
        QWidget::setTabOrder(stops[i - 1], stops[i]);
}

QRect CMainWnd::InitialPlacement(const QRect& work_area) {
    const int w = work_area.width();
    const int h = work_area.height();
    QRect placed(work_area.left(), work_area.top(), w, h);
    if (w >= 1024) {
        placed.setWidth(2 * w / 3);
        placed.moveLeft(work_area.left() + (w - placed.width()) / 2);
    }
    if (placed.left() != work_area.left() && h >= 768) {
        placed.setHeight(2 * h / 3);
        placed.moveTop(work_area.top() + (h - placed.height()) / 2);
    }
    return placed;
}

void CMainWnd::StartManager(const ManagerSetup& setup) {
    left_pane_->SetLocalHost(setup.local_host);
    left_pane_->LoadDomains();
    left_pane_->Refresh();
    left_pane_->StartPolling();
    left_pane_->Refresh();
    // What stands is kept beside the history now and then, so the next start
    // does not log every standing fault again.
    auto* keep_standing = new QTimer(this);
    connect(keep_standing, &QTimer::timeout, this,
            [this] { event_pane_->SaveStandingEvents(CollectStandingEvents(*registry_)); });
    keep_standing->start(kStandingSavePeriodMs);
    if (setup.local_host.empty()) return;
    // The manager reaches its own machine through the local agent, which
    // must let this computer's name through.
    if (setup.authorize_local) setup.authorize_local(ManagerComputerName());
    if (CSesDomain* local = setup.registry->Acquire(setup.local_host))
        setup.registry->Release(local);
}

// ---- layout ----------------------------------------------------------------------------------

QRect CMainWnd::PaneArea() const {
    const QRect inside = rect().adjusted(1, 1, -1, -1);
    const int top = inside.top() + caption_bar_->height() + main_tool_bar_->height();
    return QRect(inside.left(), top, inside.width(), std::max(0, inside.bottom() + 1 - top));
}

void CMainWnd::resizeEvent(QResizeEvent*) {
    if (isMinimized()) return;
    const QRect inside = rect().adjusted(1, 1, -1, -1);
    caption_bar_->setGeometry(inside.left(), inside.top(), inside.width(), caption_bar_->height());
    main_tool_bar_->setGeometry(inside.left(), caption_bar_->geometry().bottom() + 1,
                                inside.width(), main_tool_bar_->height());
    // A maximise or restore keeps the horizontal splitter's proportion.
    if (rescale_splitter_y_ && last_height_ > 0 && height() > 0)
        splitter_y_ = int(int64_t(height()) * splitter_y_ / last_height_);
    rescale_splitter_y_ = false;
    last_height_ = height();
    const QRect area = PaneArea();
    const int bottom = area.top() + area.height();
    if (bottom < splitter_y_ + kSplitter) splitter_y_ = bottom - kSplitter;
    LayOutPanes();
}

void CMainWnd::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange) rescale_splitter_y_ = true;
    QWidget::changeEvent(event);
}

void CMainWnd::LayOutPanes() {
    const QRect area = PaneArea();
    const int right = area.left() + area.width();
    const int bottom = area.top() + area.height();
    setUpdatesEnabled(false);
    left_pane_->setGeometry(area.left(), area.top(), std::max(0, splitter_x_ - area.left()),
                            std::max(0, splitter_y_ - area.top()));
    right_pane_->setGeometry(splitter_x_ + kSplitter, area.top(),
                             std::max(0, right - splitter_x_ - kSplitter), area.height());
    event_pane_->setGeometry(area.left(), splitter_y_ + kSplitter,
                             std::max(0, splitter_x_ - area.left()),
                             std::max(0, bottom - splitter_y_ - kSplitter));
    setUpdatesEnabled(true);
}

void CMainWnd::MoveVerticalSplitter(int x) {
    const QRect area = PaneArea();
    const int lowest = area.left() + left_pane_->MinimumPaneWidth();
    splitter_x_ = std::max(lowest, std::min(x, width() - kSplitterMargin - kSplitter));
    LayOutPanes();
}

void CMainWnd::MoveHorizontalSplitter(int y) {
    const QRect area = PaneArea();
    splitter_y_ = std::max(area.top(), std::min(y, height() - kSplitterMargin - kSplitter));
    LayOutPanes();
}

void CMainWnd::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), border_);
    p.fillRect(rect().adjusted(1, 1, -1, -1), background_);
}

// ---- hit testing and dragging ----------------------------------------------------------------

int CMainWnd::HitTest(QPoint at) const {
    const QRect caption = caption_bar_->geometry();
    const bool first_column = at.x() <= 0;
    const bool last_column = at.x() >= width() - 1;
    if (at.y() < caption.top()) {
        return first_column ? kHitTopLeft : last_column ? kHitTopRight : kHitTop;
    }
    if (at.y() >= height() - 1) {
        return first_column ? kHitBottomLeft : last_column ? kHitBottomRight : kHitBottom;
    }
    if (first_column) return kHitLeft;
    if (last_column) return kHitRight;
    return at.y() <= caption.bottom() ? kHitCaption : kHitClient;
}

int CMainWnd::DragKindAt(QPoint at) const {
    const int code = HitTest(at);
    if (code == kHitCaption) return kNoDrag;
    if (code != kHitClient) return code;
    if (at.x() >= splitter_x_ && at.x() < splitter_x_ + kSplitter) return kVerticalSplitter;
    if (at.y() >= splitter_y_ && at.y() < splitter_y_ + kSplitter) return kHorizontalSplitter;
    return kNoDrag;
}

void CMainWnd::SetCursorFor(int kind) {
    switch (kind) {
        case kHitLeft:
        case kHitRight:
        case kVerticalSplitter:
            setCursor(Qt::SizeHorCursor);
            break;
        case kHitTop:
        case kHitBottom:
        case kHorizontalSplitter:
            setCursor(Qt::SizeVerCursor);
            break;
        case kHitTopLeft:
        case kHitBottomRight:
            setCursor(Qt::SizeFDiagCursor);
            break;
        case kHitTopRight:
        case kHitBottomLeft:
            setCursor(Qt::SizeBDiagCursor);
            break;
        default:
            setCursor(Qt::ArrowCursor);
            break;
    }
}

void CMainWnd::ShowDragBar(int kind, QPoint at) {
    const QRect area = PaneArea();
    if (kind == kVerticalSplitter) {
        drag_bar_->setGeometry(at.x() - drag_offset_, area.top(), kSplitter, area.height());
    } else {
        drag_bar_->setGeometry(area.left(), at.y() - drag_offset_, splitter_x_ - area.left(),
                               kSplitter);
    }
    drag_bar_->show();
    drag_bar_->raise();
}

void CMainWnd::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint at = event->position().toPoint();
    const int kind = DragKindAt(at);
    if (kind == kNoDrag) return;
    if (kind == kVerticalSplitter || kind == kHorizontalSplitter) {
        drag_kind_ = kind;
        drag_offset_ = kind == kVerticalSplitter ? at.x() - splitter_x_ : at.y() - splitter_y_;
        ShowDragBar(kind, at);
        return;
    }
    // The window system resizes (X11 and Wayland alike); where it cannot,
    // the window follows the pointer itself.
    if (windowHandle() && windowHandle()->startSystemResize(EdgesOf(kind))) return;
    drag_kind_ = kind;
    resize_from_ = geometry();
    drag_start_ = event->globalPosition().toPoint();
}

void CMainWnd::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (drag_kind_ == kNoDrag) {
        SetCursorFor(DragKindAt(at));
        return;
    }
    if (drag_kind_ == kVerticalSplitter || drag_kind_ == kHorizontalSplitter) {
        const QRect area = PaneArea();
        QPoint bounded = at;
        const int low_x = area.left() + left_pane_->MinimumPaneWidth() + drag_offset_;
        bounded.setX(std::clamp(
            at.x(), low_x, std::max(low_x, width() - kSplitterMargin - kSplitter + drag_offset_)));
        bounded.setY(std::clamp(at.y(), area.top() + drag_offset_,
                                std::max(area.top() + drag_offset_,
                                         height() - kSplitterMargin - kSplitter + drag_offset_)));
        ShowDragBar(drag_kind_, bounded);
        return;
    }
    const QPoint moved = event->globalPosition().toPoint() - drag_start_;
    const Qt::Edges edges = EdgesOf(drag_kind_);
    QRect g = resize_from_;
    if (edges & Qt::LeftEdge) g.setLeft(g.left() + moved.x());
    if (edges & Qt::RightEdge) g.setRight(g.right() + moved.x());
    if (edges & Qt::TopEdge) g.setTop(g.top() + moved.y());
    if (edges & Qt::BottomEdge) g.setBottom(g.bottom() + moved.y());
    if (g.width() >= minimumWidth() && g.height() >= minimumHeight()) setGeometry(g);
}

void CMainWnd::mouseReleaseEvent(QMouseEvent* event) {
    const int kind = std::exchange(drag_kind_, kNoDrag);
    if (kind != kVerticalSplitter && kind != kHorizontalSplitter) return;
    drag_bar_->hide();
    const QPoint at = event->position().toPoint();
    if (kind == kVerticalSplitter) {
        MoveVerticalSplitter(at.x() - drag_offset_);
    } else {
        MoveHorizontalSplitter(at.y() - drag_offset_);
    }
}

// ---- commands and closing ----------------------------------------------------------------------

bool CMainWnd::OnCommand(int id) {
    if (caption_bar_->OnCommand(id) || left_pane_->OnCommand(id) || event_pane_->OnCommand(id))
        return true;
    if (id == CRightToolBar::kQuickJumpCommand) {
        right_pane_->List()->OpenQuickJump();
        return true;
    }
    emit Command(id);  // the application's: agent mode, about
    return false;
}

bool CMainWnd::WorkWouldBeCut() const {
    return ModalOperationsRunning() > 0 || AnyUpgradeRunning(registry_);
}

void CMainWnd::closeEvent(QCloseEvent* event) {
    // A view waiting in its modal loop, or an upgrade half done, must not
    // lose the window under it: closing waits until they have ended.
    if (WorkWouldBeCut()) {
        event->ignore();
        Log("the main window stays open: an enclosure operation or upgrade is running");
        static bool telling = false;
        if (!telling) {
            telling = true;
            CMessageBox box;
            box.ShowMessageBox(CMessageBox::kNotice, kBusyNotice);
            telling = false;
        }
        return;
    }
    emit Closed();
    event->accept();
}

}  // namespace halvorin
