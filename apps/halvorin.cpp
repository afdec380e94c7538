// halvorin: the desktop program. Manages the enclosures of this host and of
// the remote hosts the operator lists (manager mode), or serves this host's
// enclosures to other managers from the notification area (agent mode).

#include <QApplication>
#include <QCommandLineParser>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/log.h"
#include "shell/app/display_check.h"
#include "shell/app/halvorin_app.h"
#include "shell/app/single_instance.h"

namespace {

constexpr const char* kDescription =
    "Manage SAS enclosures (JBODs) through the Halvorin agents of their hosts.\n"
    "Every instance serves this host's enclosures on a TCP port. Settings live in\n"
    "~/.config/Halvorin/Halvorin.conf.";

[[noreturn]] void UsageError(const QString& message) {
    std::fprintf(stderr, "halvorin: %s\nTry 'halvorin --help'.\n", qPrintable(message));
    std::exit(1);
}

// Qt's own options (-platform xcb, -style Fusion, ...) pass through to the
// application; the parser only has to know them to let them be.
void AcceptToolkitOptions(QCommandLineParser& parser) {
    for (const char* name : {"platform", "platformpluginpath", "platformtheme", "plugin", "style",
                             "stylesheet", "display", "geometry", "qwindowgeometry", "qwindowtitle",
                             "qwindowicon", "session", "fontengine"}) {
        QCommandLineOption option(name, "", "value");
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption option(name);
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

// Read before the toolkit starts, so --help, --version and mistakes need no
// display.
halvorin::StartupOptions ParseOptions(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    parser.setApplicationDescription(kDescription);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption demo(
        "demo",
        "Also serve the built-in simulated enclosures from this program's own agent, so that "
        "this host shows them.");
    const QCommandLineOption port("port", "Serve this host's enclosures on PORT instead of 6000.",
                                  "PORT");
    const QCommandLineOption claimed(
        "allow-claimed-names",
        "In agent mode, accept a listed manager name on the manager's word; by default the name "
        "must resolve to the manager's address and that address back to the name.");
    const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    const QCommandLineOption version({"V", "version"}, "Show the version and exit.");
    parser.addOptions({demo, port, claimed, help, version});
    AcceptToolkitOptions(parser);
    if (!parser.parse(arguments)) UsageError(parser.errorText());
    if (parser.isSet(help)) {
        // Without an application object Qt cannot name the program.
        QString text = parser.helpText();
        text.replace("<executable_name>", "halvorin");
        std::fputs(qPrintable(text), stdout);
        std::exit(0);
    }
    if (parser.isSet(version)) {
        std::printf("halvorin %s\n", HALVORIN_VERSION);
        std::exit(0);
    }
    if (!parser.positionalArguments().isEmpty())
        UsageError("unexpected argument '" + parser.positionalArguments().first() + "'");
    halvorin::StartupOptions options;
    options.demo = parser.isSet(demo);
    options.accept_claimed_names = parser.isSet(claimed);
    if (parser.isSet(port)) {
        bool number = false;
        const uint value = parser.value(port).toUInt(&number);
        if (!number || value < 1 || value > 65535)
            UsageError("--port wants a port number from 1 to 65535, not '" + parser.value(port) +
                       "'");
        options.agent_port = static_cast<uint16_t>(value);
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    halvorin::StartupOptions options = ParseOptions(argc, argv);
    // The toolkit would abort without a word an operator can act on.
    if (const std::string missing =
            halvorin::MissingDisplay(halvorin::CurrentDisplayEnvironment(argc, argv));
        !missing.empty()) {
        std::fprintf(stderr,
                     "halvorin: %s; start it in a desktop session (halvorin-agentd serves "
                     "enclosures without one)\n",
                     missing.c_str());
        return 1;
    }
    // A peer that goes away mid-send must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    halvorin::SetLogSink(halvorin::LogToStderr);

    QApplication application(argc, argv);
    application.setQuitOnLastWindowClosed(false);  // agent mode has no visible window
    application.setDesktopFileName("org.halvorin.Halvorin");
    // One program per user: a second start brings the first one forward.
    halvorin::SingleInstance instance;
    if (instance.HandOverToRunning()) {
        std::fprintf(stderr, "halvorin: already running; its window was brought forward\n");
        return 0;
    }
    QString listen_error;
    if (!instance.Listen(&listen_error))
        halvorin::Log(halvorin::LogPriority::kWarning,
                      "a second start cannot find this one: " + listen_error.toStdString());
    halvorin::CHalvorinApp app(std::move(options));
    QObject::connect(&instance, &halvorin::SingleInstance::RaiseRequested, &application,
                     [&app] { app.BringForward(); });
    if (!app.Startup()) return 1;
    const int status = application.exec();
    app.Shutdown();
    if (app.CommandsLeftRunning()) {
        // Those commands end in the kernel; nothing of ours may run after
        // this point, static destructors included.
        std::fflush(stderr);
        std::_Exit(status);
    }
    return status;
}
