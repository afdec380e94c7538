// CHalvorinApp: the application object of the desktop program. It brings
// the process up in a fixed order, owns the shared look (font face, image
// lists) and the current top-level window, and switches between manager
// mode (CMainWnd, shown) and agent mode (CAgentWnd, hidden). It lives on the
// user-interface thread, after the QApplication.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

#include "base/clock.h"
#include "shell/events/event_log.h"
#include "shell/frame/main_wnd.h"
#include "shell/theme/font_face.h"

namespace halvorin {

namespace sim {
class SimHost;
}

struct StartupOptions {
    uint16_t agent_port = 6000;
    // Agent mode: accept a listed manager name on the manager's word instead
    // of resolving it to the manager's address (networks without reverse DNS).
    bool accept_claimed_names = false;
    // Attach the built-in simulated enclosures to this process's own agent.
    bool demo = false;
    // The demo enclosures' time (null: the wall clock); tests move it.
    Clock* demo_clock = nullptr;
    FaceInstalled face_installed = FaceIsInstalledOnThisSystem;
    // Tells the operator why start-up failed (on standard error and in the
    // platform's message box unless replaced).
    std::function<void(const QString& message)> report_failure;
    // Where the event list keeps its history (empty: not kept).
    std::string history_directory = EventStateDirectory();
    // Whether the desktop has a notification area for agent mode's icon
    // (null: ask the platform).
    std::function<bool()> tray_available;
};

class CHalvorinApp : public QObject {
    Q_OBJECT

  public:
    static constexpr int kManagerMode = 0;
    static constexpr int kAgentMode = 1;
    static constexpr int kAgentModeCommand = 252;
    static constexpr int kManagerModeCommand = 253;
    static constexpr int kAboutCommand = 57664;
    static constexpr int kExitCommand = 57665;

    explicit CHalvorinApp(StartupOptions options = {});
    ~CHalvorinApp() override;  // shuts down if started

    // True when a top-level window was created; false ends the process.
    bool Startup();
    // Releases every domain (pending requests end with -15), then stops the
    // agent server. Safe to call more than once.
    void Shutdown();
    // After Shutdown: SCSI commands were still running in the kernel, and
    // the process must end without running static destructors (_Exit).
    bool CommandsLeftRunning() const { return commands_left_running_ > 0; }

    // Creates the window of `run_mode` and makes it the top-level window;
    // false (the old window stays) for a mode other than 0 and 1.
    bool SwitchTopLevelWindow(int run_mode);
    // Commands 252 (agent mode, asks first), 253 (manager mode), 57664.
    void OnCommand(int command);

    // Another start of the program asked for this one: its window comes to
    // the front (agent mode's too, which otherwise hides behind its icon).
    void BringForward();

    int RunMode() const { return run_mode_; }
    // The port was taken by a halvorin-agentd, whose enclosures this host's
    // entry shows: the program serves nobody itself, and has no agent mode.
    bool UsesRunningAgent() const { return uses_running_agent_; }
    QString FontFace() const;
    QWidget* MainWindow() const { return window_.get(); }

  private:
    struct DeleteLater {
        void operator()(QWidget* window) const;
    };

    bool StartAgentServer();
    bool UseRunningAgent();
    bool UseTlsSettings();
    ManagerSetup ManagerSetupOfThisProcess() const;
    void AddOperatorEventToMainWindow(int level, CSubEnc* subenc, int message_id,
                                      const QStringList& arguments);
    std::unique_ptr<QWidget, DeleteLater> CreateTopLevelWindow(int run_mode, const QString& title);
    int ModeReplacingAnOddValue() const;
    void ChangeRunMode(int run_mode);
    bool TrayAvailable() const;
    void AnimateSwitch(QWidget* old_window, QWidget* new_window, int run_mode) const;
    void ShowAboutWindow();
    void ReportFailure(const QString& message) const;

    StartupOptions options_;
    int run_mode_ = kManagerMode;
    bool started_ = false;
    bool uses_running_agent_ = false;
    size_t commands_left_running_ = 0;
    std::unique_ptr<QWidget, DeleteLater> window_;
    std::shared_ptr<sim::SimHost> demo_host_;  // the demo's enclosures, while attached
};

}  // namespace halvorin
