#include "shell/app/halvorin_app.h"

#include <QApplication>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <cstdio>

#include "base/clock.h"
#include "base/host_name.h"
#include "base/log.h"
#include "base/text_format.h"
#include "base/utf16.h"
#include "enclosure/model/domain_registry.h"
#include "enclosure/model/element_naming.h"
#include "enclosure/ops/firmware_upgrade.h"
#include "enclosure/poll/event_rule.h"
#include "net/agent/agent_server.h"
#include "net/agent/agent_service.h"
#include "net/client/agent_probe.h"
#include "net/ui/about_wnd.h"
#include "net/ui/agent_wnd.h"
#include "shell/app/app_settings.h"
#include "shell/app/hand_over_animation.h"
#include "shell/events/event_pane.h"
#include "shell/events/operator_event.h"
#include "shell/frame/main_wnd.h"
#include "shell/theme/application_icon.h"
#include "shell/theme/interface_language.h"
#include "shell/theme/shared_look.h"
#include "shell/theme/string_resources.h"
#include "shell/widgets/application_window.h"
#include "shell/widgets/message_box.h"
#include "sim/attach.h"
#include "sim/built_in_scenarios.h"

namespace halvorin {

namespace {

constexpr int kTitleText = 57344;
constexpr int kAgentModeQuestion = 127;
constexpr int kAgentServerFailedText = 272;
constexpr int kUnknownRunModeText = 302;
constexpr int kRunningAgentText = 333;
constexpr int kNoAgentModeText = 334;
constexpr auto kProbePatience = std::chrono::seconds(2);

void ReportOnStderrAndInABox(const QString& message) {
    std::fprintf(stderr, "halvorin: %s\n", qPrintable(QString(message).replace("\n\n", " ")));
    // Without a screen nobody could close the box: it would hang the process.
    const QString platform = QGuiApplication::platformName();
    if (platform == "offscreen" || platform == "minimal") return;
    QMessageBox::critical(nullptr, LoadQString(kTitleText), message);
}

}  // namespace

void CHalvorinApp::DeleteLater::operator()(QWidget* window) const {
    // A window may be replaced from one of its own signals: delete it once
    // the event loop has left it.
    window->deleteLater();
}

CHalvorinApp::CHalvorinApp(StartupOptions options) : options_(std::move(options)) {
    if (!options_.report_failure) options_.report_failure = ReportOnStderrAndInABox;
}

CHalvorinApp::~CHalvorinApp() {
    InstallOperatorEventSink(nullptr);
    Shutdown();
    delete window_.release();  // no signal of it is running any more
}

QString CHalvorinApp::FontFace() const {
    return AppFontFace();
}

bool CHalvorinApp::Startup() {
    // The toolkit registers its own controls and the sockets need no set-up,
    // so start-up begins with the texts and the agent server.
    Log("start-up: string tables (" + InterfaceLanguage().toStdString() + ")");
    InstallStringTables();
    if (!UseTlsSettings()) return false;
    Log("start-up: agent server");
    if (!StartAgentServer()) return false;
    started_ = true;
    Log("start-up: element type names");
    SetElementTypeNames(ElementTypeNamesFromStrings());
    Log("start-up: image lists");
    SharedLook look;
    look.image_lists = BuildSharedImageLists();
    Log("start-up: font face");
    look.font_face = ChooseFontFace(options_.face_installed);
    InstallSharedLook(std::move(look));
    QApplication::setWindowIcon(ApplicationIcon());
    InstallOperatorEventSink(
        [this](int level, CSubEnc* subenc, int message_id, const QStringList& arguments) {
            AddOperatorEventToMainWindow(level, subenc, message_id, arguments);
        });
    Log("start-up: run mode");
    run_mode_ = AppSettings().ReadRunMode();
    if (uses_running_agent_) {
        // Agent mode would serve nobody: the stored mode stays for a start
        // when the port is free again.
        run_mode_ = kManagerMode;
        if (!SwitchTopLevelWindow(run_mode_)) return false;
        AddOperatorEventToMainWindow(kEventInformation, nullptr, kRunningAgentText,
                                     {QString::number(options_.agent_port)});
        return true;
    }
    if (run_mode_ == kManagerMode || run_mode_ == kAgentMode)
        return SwitchTopLevelWindow(run_mode_);
    // A value someone wrote by hand: the manager's window, which says why in
    // its event list; the stored value stays until the operator picks a mode.
    const QString stored = AppSettings().RunModeText();
    Log("start-up: \"RunMode\" in " + AppSettings().FilePath().toStdString() + " is \"" +
        stored.toStdString() + "\", neither 0 nor 1; manager mode");
    run_mode_ = kManagerMode;
    if (!SwitchTopLevelWindow(run_mode_)) return false;
    AddOperatorEventToMainWindow(kEventWarning, nullptr, kUnknownRunModeText,
                                 {"\"" + stored + "\""});
    return true;
}

// Remote agents are spoken to over TLS when the settings name the files.
// Files that do not work stop the start: falling back to plain TCP would
// send the commands unprotected when the administrator asked otherwise.
bool CHalvorinApp::UseTlsSettings() {
    const TlsFiles files = AppSettings().ReadTlsFiles();
    if (!files.Any()) return true;
    std::string error;
    auto context = TlsContext::Create(TlsRole::kManager, files, error);
    if (!context) {
        ReportFailure(QString::fromStdString(
            "the [TLS] settings in " + AppSettings().FilePath().toStdString() + ": " + error));
        return false;
    }
    Log("start-up: TLS to remote agents, trusting " + files.ca);
    ProcessRegistry().UseTls(std::move(context), ManagerSetupOfThisProcess().local_host);
    return true;
}

void CHalvorinApp::BringForward() {
    QWidget* window = window_.get();
    if (!window) return;
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    window->activateWindow();
}

ManagerSetup CHalvorinApp::ManagerSetupOfThisProcess() const {
    ManagerSetup setup;
    setup.registry = &ProcessRegistry();
    setup.local_host = ManagerComputerName();
    if (options_.agent_port != kDefaultAgentPort)
        setup.local_host += u":" + Utf8ToUtf16(std::to_string(options_.agent_port));
    setup.authorize_local = [](const std::u16string& name) { ServerSetAuthorized({name}); };
    setup.history_directory = options_.history_directory;
    return setup;
}

void CHalvorinApp::AddOperatorEventToMainWindow(int level, CSubEnc* subenc, int message_id,
                                                const QStringList& arguments) {
    auto* main = qobject_cast<CMainWnd*>(window_.get());
    if (main && main->EventPane())
        main->EventPane()->AddOperatorEvent(level, subenc, message_id, arguments);
}

bool CHalvorinApp::StartAgentServer() {
    if (options_.demo) {
        std::string error;
        Clock& clock = options_.demo_clock ? *options_.demo_clock : SystemClock();
        demo_host_ =
            sim::AttachScenarioTexts(ProcessTransport(), sim::BuiltInDemoScenarios(), clock, error);
        if (!demo_host_) {
            ReportFailure(QString::fromStdString("the demo enclosures: " + error));
            return false;
        }
    }
    AgentOptions agent;
    agent.port = options_.agent_port;
    agent.accept_claimed_names = options_.accept_claimed_names;
    if (ServerStart(agent) == 0) return true;
    if (!options_.demo && UseRunningAgent()) return true;
    // Ending without a word would leave the operator guessing why the
    // program did not appear.
    const QString format = LoadQString(kAgentServerFailedText);
    ReportFailure(QString::fromStdU16String(FormatString(
        format.toStdU16String(), {int64_t(options_.agent_port),
                                  QString::fromStdString(ServerStartError()).toStdU16String()})));
    return false;
}

// A halvorin-agentd on the port serves this host already: its enclosures
// are this host's entry, as they would be any manager's.
bool CHalvorinApp::UseRunningAgent() {
    if (ProbeLocalAgent(options_.agent_port, ManagerComputerName(), kProbePatience) !=
        AgentProbe::kAgent)
        return false;
    Log("start-up: a Halvorin agent already serves TCP port " +
        std::to_string(options_.agent_port) + "; this host's enclosures come from it");
    uses_running_agent_ = true;
    return true;
}

void CHalvorinApp::Shutdown() {
    if (!started_) return;
    started_ = false;
    StopFirmwareUpgrades();
    ProcessRegistry().ReleaseAll();
    commands_left_running_ = ServerStop();
    // The demo's enclosures leave with the program that attached them.
    if (demo_host_) ProcessTransport().RemoveHost(std::exchange(demo_host_, nullptr).get());
}

bool CHalvorinApp::SwitchTopLevelWindow(int run_mode) {
    const QString title = LoadQString(kTitleText);
    auto created = CreateTopLevelWindow(run_mode, title);
    if (!created) return false;
    auto old = std::move(window_);
    // Agent mode manages nothing: the hosts' connections close, so another
    // manager may have their places, and manager mode connects again from
    // "Domains". Not while an upgrade or a modal action still needs one.
    const auto* manager = qobject_cast<CMainWnd*>(old.get());
    const bool release_hosts = run_mode == kAgentMode && manager && !manager->WorkWouldBeCut();
    if (old) {
        AnimateSwitch(old.get(), created.get(), run_mode);
        old->hide();
    }
    window_ = std::move(created);
    SetApplicationWindow(window_.get());
    // Agent mode hides behind its tray icon; without a tray its window is
    // the only way back, so it shows.
    const auto* agent = qobject_cast<CAgentWnd*>(window_.get());
    if (!agent || !agent->HasTrayIcon()) window_->show();
    window_->update();
    if (old) old->close();
    if (release_hosts) ProcessRegistry().ReleaseAll();
    return true;
}

// The outline flies between the window and the notification area; with no
// notification area there is nothing to fly to.
void CHalvorinApp::AnimateSwitch(QWidget* old_window, QWidget* new_window, int run_mode) const {
    if (!TrayAvailable()) return;
    if (run_mode == kAgentMode) {
        const auto* agent = qobject_cast<CAgentWnd*>(new_window);
        AnimateHandOver(old_window->frameGeometry(),
                        TrayIconPlace(agent ? agent->TrayIcon() : nullptr));
    } else {
        const auto* agent = qobject_cast<CAgentWnd*>(old_window);
        AnimateHandOver(TrayIconPlace(agent ? agent->TrayIcon() : nullptr),
                        new_window->frameGeometry());
    }
}

bool CHalvorinApp::TrayAvailable() const {
    return options_.tray_available ? options_.tray_available()
                                   : QSystemTrayIcon::isSystemTrayAvailable();
}

std::unique_ptr<QWidget, CHalvorinApp::DeleteLater> CHalvorinApp::CreateTopLevelWindow(
    int run_mode, const QString& title) {
    if (run_mode == kManagerMode) {
        auto* window = new CMainWnd(title, ManagerSetupOfThisProcess());
        connect(window, &CMainWnd::Command, this, &CHalvorinApp::OnCommand);
        connect(window, &CMainWnd::Closed, this, [this, window] {
            // Closing the manager's window ends the program; a window that a
            // mode change replaced is closed too, but is no longer the one.
            if (window_.get() == window) QApplication::quit();
        });
        return std::unique_ptr<QWidget, DeleteLater>(window);
    }
    if (run_mode == kAgentMode) {
        auto* window = new CAgentWnd(title, TrayAvailable());
        connect(window, &CAgentWnd::Command, this, &CHalvorinApp::OnCommand);
        connect(window, &CAgentWnd::Closed, this, [this, window] {
            if (window_.get() == window) QApplication::quit();
        });
        return std::unique_ptr<QWidget, DeleteLater>(window);
    }
    return nullptr;
}

void CHalvorinApp::OnCommand(int command) {
    if (command == kAgentModeCommand && uses_running_agent_) {
        CMessageBox box;
        box.ShowMessageBox(CMessageBox::kNotice, kNoAgentModeText);
    } else if (command == kAgentModeCommand) {
        CMessageBox box;
        if (box.ShowMessageBox(CMessageBox::kQuestion, kAgentModeQuestion) !=
            CMessageBox::kResultYes)
            return;
        if (run_mode_ == kAgentMode) return;
        ChangeRunMode(run_mode_ == kManagerMode ? kAgentMode : ModeReplacingAnOddValue());
    } else if (command == kManagerModeCommand) {
        if (run_mode_ == kManagerMode) return;
        ChangeRunMode(run_mode_ == kAgentMode ? kManagerMode : ModeReplacingAnOddValue());
    } else if (command == kAboutCommand && window_) {
        ShowAboutWindow();
    } else if (command == kExitCommand) {
        QApplication::quit();
    }
}

void CHalvorinApp::ShowAboutWindow() {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == CAboutWnd::kWindowClass && !top->isHidden()) {
            top->raise();  // one about window at a time
            return;
        }
    }
    auto* about = new CAboutWnd(window_.get());  // it deletes itself when closed
    about->show();
    about->activateWindow();  // the keyboard goes with it: Escape closes it
}

int CHalvorinApp::ModeReplacingAnOddValue() const {
    if (window_ == nullptr) return kManagerMode;
    return qobject_cast<CAgentWnd*>(window_.get()) ? kManagerMode : kAgentMode;
}

void CHalvorinApp::ChangeRunMode(int run_mode) {
    // Stored first, so the mode the operator chose is the one the next start
    // uses even if its window cannot be made now.
    AppSettings().WriteRunMode(run_mode);
    run_mode_ = run_mode;
    SwitchTopLevelWindow(run_mode);
}

void CHalvorinApp::ReportFailure(const QString& message) const {
    options_.report_failure(message);
}

}  // namespace halvorin
