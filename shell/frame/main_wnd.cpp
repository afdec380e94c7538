#include "shell/frame/main_wnd.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QSplitter>
#include <QToolButton>

#include "base/host_name.h"
#include "shell/events/event_pane.h"
#include "shell/frame/stand_in_right_pane.h"
#include "shell/theme/shared_look.h"
#include "shell/theme/string_resources.h"
#include "shell/theme/theme_color.h"
#include "shell/theme/theme_font.h"
#include "shell/tree/left_pane.h"

namespace halvorin {

namespace {

constexpr int kAgentModeCommand = 252;
constexpr int kAgentBitmap = 310;
constexpr int kAgentModeLabel = 232;
constexpr int kAgentModeTip = 252;
constexpr int kSplitterWidth = 2;

// The tool tip part of a command string ("prompt\ntip").
QString ToolTipOf(int string_id) {
    return LoadQString(string_id).section('\n', -1);
}

QSplitter* Splitter(Qt::Orientation orientation, QWidget* parent) {
    auto* splitter = new QSplitter(orientation, parent);
    splitter->setHandleWidth(kSplitterWidth);
    splitter->setChildrenCollapsible(false);
    return splitter;
}

}  // namespace

CMainWnd::CMainWnd(const QString& title, const ManagerSetup& setup) {
    setObjectName(kWindowClass);
    setWindowTitle(title);
    background_ = ToQColor(LoadThemeColor(406, Rgb(197, 197, 197)));
    resize(1280, 693);

    auto* columns = Splitter(Qt::Horizontal, this);
    auto* left_column = Splitter(Qt::Vertical, columns);
    static DomainRegistry no_hosts;
    left_pane_ = new CLeftPane(setup.registry ? *setup.registry : no_hosts, left_column);
    event_pane_ = new CEventPane(setup.history_directory, SystemClock(), left_column);
    right_pane_ = new StandInRightPane(setup.registry, columns);
    left_pane_->SetRightPane(right_pane_);
    connect(right_pane_, &StandInRightPane::OpenSubEnc, left_pane_, &CLeftPane::OpenSubEnc);
    left_column->setSizes({height() * 3 / 4, height() / 4});
    columns->setSizes({width() / 3, width() * 2 / 3});
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->addWidget(columns);

    agent_mode_button_ = new QToolButton(this);
    agent_mode_button_->setObjectName("AgentModeButton");
    agent_mode_button_->setText(LoadQString(kAgentModeLabel));
    agent_mode_button_->setToolTip(ToolTipOf(kAgentModeTip));
    if (auto agent = CImageList::FromBitmap(kAgentBitmap, 24, QColor(0, 255, 0))) {
        agent_mode_button_->setIcon(QIcon(QPixmap::fromImage(agent->Image(0))));
    }
    agent_mode_button_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    agent_mode_button_->setAutoRaise(true);
    agent_mode_button_->setFont(
        CreateThemeFont(LoadThemeFont(878, FontSize(22, 700), AppFontFace())));
    connect(agent_mode_button_, &QToolButton::clicked, this,
            [this] { emit Command(kAgentModeCommand); });

    if (setup.registry) StartManager(setup);
}

CMainWnd::~CMainWnd() = default;

void CMainWnd::StartManager(const ManagerSetup& setup) {
    left_pane_->LoadDomains();
    left_pane_->Refresh();
    left_pane_->StartPolling();
    left_pane_->Refresh();
    if (setup.local_host.empty()) return;
    // The manager reaches its own machine through the local agent, which
    // must let this computer's name through.
    if (setup.authorize_local) setup.authorize_local(ManagerComputerName());
    if (CSesDomain* local = setup.registry->Acquire(setup.local_host))
        setup.registry->Release(local);
}

void CMainWnd::resizeEvent(QResizeEvent*) {
    agent_mode_button_->adjustSize();
    agent_mode_button_->move(width() - agent_mode_button_->width() - 12, 12);
    agent_mode_button_->raise();
}

void CMainWnd::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), background_);
}

void CMainWnd::closeEvent(QCloseEvent* event) {
    emit Closed();
    event->accept();
}

}  // namespace halvorin
