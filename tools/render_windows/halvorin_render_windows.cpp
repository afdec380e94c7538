// halvorin-render-windows: renders the desktop program's windows offscreen
// into PNG files, for people to look at without a display.
//
//   halvorin-render-windows OUTPUT_DIR

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QPainter>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <functional>

#include "enclosure/statuswnd/status_wnd.h"
#include "net/ui/server_edit_bar.h"
#include "shell/frame/main_wnd.h"
#include "shell/theme/font_face.h"
#include "shell/theme/interface_language.h"
#include "shell/theme/shared_look.h"
#include "shell/theme/string_resources.h"
#include "shell/widgets/application_window.h"
#include "shell/widgets/message_box.h"
#include "tests/support/synthetic_mouse.h"
#include "tools/render_windows/render_agent_mode.h"
#include "tools/render_windows/render_enclosure_actions.h"
#include "tools/render_windows/render_enclosure_view.h"
#include "tools/render_windows/render_left_column.h"
#include "tools/render_windows/render_main_window.h"
#include "tools/render_windows/render_output.h"

namespace {

using namespace halvorin;

// The main window with a window of the program drawn over it where it sits.
QImage OverMainWindow(QWidget& main, QWidget& window) {
    QImage scene = ShapedSnapshot(main);
    QPainter painter(&scene);
    painter.drawImage(window.pos() - main.pos(), ShapedSnapshot(window));
    return scene;
}

bool Save(const QImage& image, const QString& path) {
    if (image.save(path)) {
        std::printf("%s\n", qPrintable(path));
        return true;
    }
    std::fprintf(stderr, "halvorin-render-windows: cannot write %s\n", qPrintable(path));
    return false;
}

// Shows a message box, lets `pose` put it in a state, saves it and closes it.
bool RenderMessageBox(QWidget& main, int kind, int text_id, const QString& path,
                      const std::function<void(CMessageBox&)>& pose = {}) {
    CMessageBox box;
    bool saved = false;
    QObject::connect(&box, &CMessageBox::Waiting, &box, [&] {
        if (pose) pose(box);
        saved =
            Save(ShapedSnapshot(box), path) && Save(OverMainWindow(main, box), path + ".scene.png");
        box.CloseButton()->click();
    });
    box.ShowMessageBox(kind, text_id);
    return saved;
}

void HoverFirstButton(CMessageBox& box) {
    test::HoverAt(box, QRectF(box.FirstButton()).center());
}

bool RenderStatus(QWidget& main, int text_id, int duration, const QString& path) {
    QPointer<CStatusWnd> status = CStatusWnd::ShowStatus(text_id, &main, duration);
    const bool saved = Save(ShapedSnapshot(*status), path) &&
                       Save(OverMainWindow(main, *status), path + ".scene.png");
    status->close();
    return saved;
}

// The server entry bar as the left pane shows it: with its placeholder, with
// a name typed and the pointer on the add button, and refusing a name.
bool RenderServerEditBar(const QString& prefix) {
    const auto pose = [&](const QString& typed, bool hover_add, bool commit, const QString& name) {
        CServerEditBar bar;
        bar.resize(280, CServerEditBar::kHeight);
        bar.show();
        if (!typed.isEmpty()) {
            test::PressAt(bar, QRectF(bar.TextRect()).center());
            for (QChar c : typed) {
                QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
                QApplication::sendEvent(&bar, &key);
            }
        }
        if (commit) bar.Commit();
        if (hover_add) {
            test::HoverAt(bar, QRectF(bar.ButtonRect()).center());
        }
        return Save(ShapedSnapshot(bar), prefix + name);
    };
    return pose("", false, false, "server-edit-bar.png") &&
           pose("jbod-lab-2:6001", true, false, "server-edit-bar-typed.png") &&
           pose("two words", false, true, "server-edit-bar-refused.png");
}

bool RenderLanguage(const QString& language, const QString& dir) {
    SetInterfaceLocale(QLocale(language));
    InstallStringTables();
    ManagerSetup nothing_managed;
    nothing_managed.history_directory.clear();
    CMainWnd main(LoadQString(57344), nothing_managed);
    main.resize(1000, 640);
    main.show();
    SetApplicationWindow(&main);
    const QString prefix = dir + "/" + language + "-";
    return Save(ShapedSnapshot(main), prefix + "main-wnd.png") &&
           RenderMessageBox(main, CMessageBox::kQuestion, 127,
                            prefix + "message-box-question.png") &&
           RenderMessageBox(main, CMessageBox::kQuestion, 126, prefix + "message-box-long.png",
                            HoverFirstButton) &&
           RenderMessageBox(main, CMessageBox::kNotice, 135, prefix + "message-box-notice.png") &&
           RenderStatus(main, 218, CStatusWnd::kUntimed, prefix + "status-untimed.png") &&
           RenderStatus(main, 217, 2000, prefix + "status-timed.png") &&
           RenderServerEditBar(prefix) && RenderEnclosureViews(prefix) &&
           RenderEnclosureActions(prefix) && RenderLeftColumn(prefix) && RenderMainWindow(prefix) &&
           RenderAgentMode(prefix);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);  // takes Qt's own options out of argv
    constexpr const char* kUsage =
        "Usage: halvorin-render-windows OUTPUT_DIR\n"
        "Render every window of the desktop program, in English, German and\n"
        "Traditional Chinese, into PNG files in OUTPUT_DIR (made if missing).\n";
    const QString first = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (argc == 2 && (first == "-h" || first == "--help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    // A word that looks like an option is a mistake, never a folder to fill.
    if (argc != 2 || first.startsWith('-')) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    // The scenes start from an empty profile and leave the operator's alone.
    QTemporaryDir profile;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, profile.path());
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);
    InstallStringTables();
    InstallLookWithFace(ChooseFontFace(FaceIsInstalledOnThisSystem));
    for (const char* language : {"en", "de", "zh_TW"}) {
        if (!RenderLanguage(language, dir)) return 1;
    }
    return 0;
}
