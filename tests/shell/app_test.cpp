#include "shell/app/halvorin_app.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSettings>
#include <QTest>

#include "base/host_name.h"
#include "base/log.h"
#include "base/unique_fd.h"
#include "base/utf16.h"
#include "enclosure/model/element_naming.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/sub_enc.h"
#include "enclosure/scsi/scsi_transport.h"
#include "net/agent/agent_server.h"
#include "net/agent/agent_service.h"
#include "shell/app/app_settings.h"
#include "shell/app/display_check.h"
#include "shell/events/event_list.h"
#include "shell/events/event_pane.h"
#include "shell/events/operator_event.h"
#include "shell/frame/main_wnd.h"
#include "shell/frame/right_pane.h"
#include "shell/frame/right_tool_bar.h"
#include "shell/tree/enc_tree.h"
#include "shell/tree/left_pane.h"
#include "shell/widgets/message_box.h"
#include "tests/support/desktop_fixture.h"
#include "tests/support/process.h"
#include "tests/support/temp_path.h"
#include "views/elem_list_box.h"
#include "views/element_group_table.h"
#include "views/item_data.h"

namespace halvorin {
namespace {

using test::WaitUntil;

class AppTest : public test::DesktopTest {
  protected:
    void SetUp() override {
        DesktopTest::SetUp();
        SetLogSink([this](LogPriority, std::string_view line) {
            if (line.starts_with("start-up: ")) steps_.emplace_back(line.substr(10));
        });
        options_.agent_port = test::FreePort();
        options_.history_directory = StateDirectory();  // the options were made before SetUp
        options_.report_failure = [this](const QString& message) { failures_ << message; };
        options_.tray_available = [] { return true; };  // agent mode hides behind its icon
    }

    void TearDown() override {
        SetLogSink(nullptr);
        DesktopTest::TearDown();
    }

    void StoreSetting(const QString& key, const QVariant& value) {
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Halvorin", "Halvorin");
        settings.setValue("CONFIG/" + key, value);
    }

    QVariant StoredSetting(const QString& key) {
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Halvorin", "Halvorin");
        return settings.value("CONFIG/" + key);
    }

    StartupOptions options_;
    QStringList failures_;
    std::vector<std::string> steps_;
};

TEST_F(AppTest, AFreshProfileStartsInManagerModeAndWritesNothing) {
    CHalvorinApp app(options_);
    ASSERT_TRUE(app.Startup());
    EXPECT_EQ(app.RunMode(), 0);
    ASSERT_NE(app.MainWindow(), nullptr);
    EXPECT_EQ(app.MainWindow()->objectName(), "MainWnd");
    EXPECT_TRUE(app.MainWindow()->isVisible());
    EXPECT_EQ(app.MainWindow()->windowTitle(), "Zent Halvorin");
    EXPECT_EQ(ApplicationWindow(), app.MainWindow());
    EXPECT_EQ(ServerPort(), options_.agent_port);
    EXPECT_FALSE(QFile::exists(SettingsFile()));
    EXPECT_TRUE(failures_.isEmpty());
}

TEST_F(AppTest, StartUpRunsItsStepsInOrder) {
    CHalvorinApp app(options_);
    ASSERT_TRUE(app.Startup());
    EXPECT_EQ(steps_,
              (std::vector<std::string>{"string tables (en)", "agent server", "element type names",
                                        "image lists", "font face", "run mode"}));
    EXPECT_EQ(app.FontFace(), "Roboto Regular");  // fonts-roboto is installed
    EXPECT_EQ(SharedImageList(7).count(), 4);
}

TEST_F(AppTest, ShutdownStopsTheAgentServer) {
    {
        CHalvorinApp app(options_);
        ASSERT_TRUE(app.Startup());
        app.Shutdown();
        EXPECT_EQ(ServerPort(), 0);
        app.Shutdown();  // twice is harmless
    }
    CHalvorinApp again(options_);  // and the port can be taken again
    EXPECT_TRUE(again.Startup());
}

// Qt aborts (status 134) when its platform has nothing to connect to; the
// program says what is missing first.
TEST(DisplayCheck, SaysWhatIsMissingBeforeTheToolkitAborts) {
    const std::string runtime = test::UniqueTempPath("runtime");  // holds no Wayland socket
    const struct {
        DisplayEnvironment environment;
        std::string missing;  // a part of the message; "" when a display can be tried
    } cases[] = {
        {{"", ":0", "", ""}, ""},
        {{"", "", "wayland-1", ""}, ""},
        {{"", "", "", ""}, "neither DISPLAY nor WAYLAND_DISPLAY"},
        {{"xcb", "", "wayland-1", runtime}, "DISPLAY is not set"},
        {{"wayland", ":0", "", runtime}, "no Wayland compositor at " + runtime + "/wayland-0"},
        {{"wayland", "", "", ""}, "XDG_RUNTIME_DIR is not set"},
        {{"wayland;xcb", ":0", "", runtime}, ""},  // a fallback that works
        {{"offscreen", "", "", ""}, ""},
    };
    for (const auto& c : cases) {
        const std::string missing = MissingDisplay(c.environment);
        if (c.missing.empty())
            EXPECT_EQ(missing, "") << c.environment.platform;
        else
            EXPECT_NE(missing.find(c.missing), std::string::npos) << missing;
    }
}

// Falling back to plain TCP would send commands unprotected.
TEST_F(AppTest, TlsSettingsThatDoNotWorkEndStartUpWithWhatIsWrong) {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Halvorin", "Halvorin");
    settings.setValue("TLS/ca", "/nonexistent/agents-ca.pem");
    settings.sync();
    CHalvorinApp app(options_);
    EXPECT_FALSE(app.Startup());
    EXPECT_EQ(app.MainWindow(), nullptr);
    ASSERT_EQ(failures_.size(), 1);
    EXPECT_TRUE(failures_[0].contains("[TLS]")) << failures_[0].toStdString();
    EXPECT_TRUE(failures_[0].contains("/nonexistent/agents-ca.pem")) << failures_[0].toStdString();
}

TEST_F(AppTest, AnAgentPortInUseIsReportedAndEndsStartUp) {
    UniqueFd listener(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options_.agent_port);
    ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener.get(), 1), 0);
    SetElementTypeNames({{kTypeCooling, u"sentinel"}});

    CHalvorinApp app(options_);
    EXPECT_FALSE(app.Startup());
    EXPECT_EQ(app.MainWindow(), nullptr);
    ASSERT_EQ(failures_.size(), 1);
    EXPECT_TRUE(failures_[0].contains(QString::number(options_.agent_port)))
        << failures_[0].toStdString();
    EXPECT_TRUE(failures_[0].contains("another program")) << failures_[0].toStdString();
    // Nothing after the agent server ran.
    EXPECT_EQ(steps_.back(), "agent server");
    EXPECT_EQ(ElementTypeName(kTypeCooling), u"sentinel");
    SetElementTypeNames(ElementTypeNamesFromStrings());
}

// The port is taken by a Halvorin agent (a halvorin-agentd): its enclosures
// are this host's, the event list says so, and agent mode is not offered.
TEST_F(AppTest, AnAgentAlreadyServingThePortIsUsedAsThisHost) {
    AgentOptions running;
    running.port = options_.agent_port;
    AgentServer agentd(ProcessTransport(), running);
    ASSERT_EQ(agentd.Start(), 0);
    StoreSetting("RunMode", 1);

    CHalvorinApp app(options_);
    ASSERT_TRUE(app.Startup());
    EXPECT_TRUE(failures_.isEmpty());
    EXPECT_TRUE(app.UsesRunningAgent());
    auto* main = qobject_cast<CMainWnd*>(app.MainWindow());
    ASSERT_NE(main, nullptr);  // manager mode, whatever was stored
    EXPECT_EQ(StoredSetting("RunMode"), 1);
    CEventList* events = main->EventPane()->List();
    bool said = false;
    for (int i = 0; i < events->RowCount(); ++i) {
        const CEventItem* item = events->Item(i);
        said = said || (item && item->text.contains("halvorin-agentd already serving TCP port " +
                                                    QString::number(options_.agent_port)));
    }
    EXPECT_TRUE(said);
    test::AnswerNextBox(test::Answer::kFirst);  // the notice's Close
    app.OnCommand(CHalvorinApp::kAgentModeCommand);
    EXPECT_EQ(app.MainWindow(), main);
    EXPECT_EQ(StoredSetting("RunMode"), 1);
    app.Shutdown();
}

// A value written by hand does not keep the program from starting: the
// manager's window opens and its event list says why.
TEST_F(AppTest, ARunModeOtherThanZeroOrOneStartsTheManagerAndSaysWhy) {
    for (const QVariant& odd : {QVariant(2), QVariant(-1), QVariant("agent")}) {
        StoreSetting("RunMode", odd);
        CHalvorinApp app(options_);
        ASSERT_TRUE(app.Startup()) << odd.toString().toStdString();
        ASSERT_NE(app.MainWindow(), nullptr);
        EXPECT_TRUE(failures_.isEmpty());
        EXPECT_EQ(StoredSetting("RunMode"), odd);  // left as it was
        auto* main = qobject_cast<CMainWnd*>(app.MainWindow());
        ASSERT_NE(main, nullptr);
        CEventList* events = main->EventPane()->List();
        bool said = false;
        for (int i = 0; i < events->RowCount(); ++i) {
            const CEventItem* item = events->Item(i);
            said = said || (item && item->text.contains("The stored run mode \"" + odd.toString() +
                                                        "\" is not known"));
        }
        EXPECT_TRUE(said) << odd.toString().toStdString();
        app.Shutdown();
    }
}

TEST_F(AppTest, RunModeOneStartsTheHiddenAgentWindow) {
    StoreSetting("RunMode", 1);
    CHalvorinApp app(options_);
    ASSERT_TRUE(app.Startup());
    ASSERT_NE(app.MainWindow(), nullptr);
    EXPECT_EQ(app.MainWindow()->objectName(), "AgentWnd");
    EXPECT_FALSE(app.MainWindow()->isVisible());
}

TEST_F(AppTest, TheElementTypeNamesFollowTheUsersLanguage) {
    UseLanguage("zh_TW");
    CHalvorinApp app(options_);
    ASSERT_TRUE(app.Startup());
    EXPECT_EQ(ElementTypeName(kTypeCooling), u"風扇");
    EXPECT_EQ(app.MainWindow()->windowTitle(), "Zent Halvorin");
    app.Shutdown();
    UseLanguage("en");
    SetElementTypeNames(ElementTypeNamesFromStrings());
}

TEST_F(AppTest, AnsweringNoToAgentModeChangesAndWritesNothing) {
    CHalvorinApp app(options_);
    ASSERT_TRUE(app.Startup());
    QWidget* manager = app.MainWindow();
    test::AnswerNextBox(test::Answer::kSecond);
    app.OnCommand(CHalvorinApp::kAgentModeCommand);
    EXPECT_EQ(app.MainWindow(), manager);
    EXPECT_EQ(app.RunMode(), 0);
    EXPECT_FALSE(QFile::exists(SettingsFile()));
}

TEST_F(AppTest, AgentModeAndBackAreStoredBeforeTheSwitch) {
    CHalvorinApp app(options_);
    ASSERT_TRUE(app.Startup());
    QPointer<QWidget> manager = app.MainWindow();

    test::AnswerNextBox(test::Answer::kFirst);
    app.OnCommand(CHalvorinApp::kAgentModeCommand);
    EXPECT_EQ(app.RunMode(), 1);
    EXPECT_EQ(StoredSetting("RunMode").toInt(), 1);
    ASSERT_NE(app.MainWindow(), nullptr);
    EXPECT_EQ(app.MainWindow()->objectName(), "AgentWnd");
    EXPECT_FALSE(app.MainWindow()->isVisible());
    EXPECT_TRUE(WaitUntil([&] { return manager.isNull(); }));  // the old window went
    EXPECT_TRUE(QApplication::topLevelWidgets().contains(app.MainWindow()));

    // Agent mode again, after Yes: nothing changes.
    QWidget* agent = app.MainWindow();
    test::AnswerNextBox(test::Answer::kFirst);
    app.OnCommand(CHalvorinApp::kAgentModeCommand);
    EXPECT_EQ(app.MainWindow(), agent);

    app.OnCommand(CHalvorinApp::kManagerModeCommand);  // asks nothing
    EXPECT_EQ(app.RunMode(), 0);
    EXPECT_EQ(StoredSetting("RunMode").toInt(), 0);
    EXPECT_EQ(app.MainWindow()->objectName(), "MainWnd");
    EXPECT_TRUE(app.MainWindow()->isVisible());
}

TEST_F(AppTest, ManagerModeInManagerModeDoesNothing) {
    CHalvorinApp app(options_);
    ASSERT_TRUE(app.Startup());
    QWidget* manager = app.MainWindow();
    app.OnCommand(CHalvorinApp::kManagerModeCommand);
    EXPECT_EQ(app.MainWindow(), manager);
    EXPECT_FALSE(QFile::exists(SettingsFile()));
}

TEST_F(AppTest, SwitchingToAnUnknownModeKeepsTheWindow) {
    CHalvorinApp app(options_);
    ASSERT_TRUE(app.Startup());
    QWidget* manager = app.MainWindow();
    EXPECT_FALSE(app.SwitchTopLevelWindow(7));
    EXPECT_EQ(app.MainWindow(), manager);
}

TEST_F(AppTest, TheDemoServesTheBuiltInEnclosuresFromTheOwnAgent) {
    options_.demo = true;
    CHalvorinApp app(options_);
    ASSERT_TRUE(app.Startup());
    // The agent's transport now reaches three simulated devices.
    EXPECT_EQ(ProcessTransport().ScanAdapters().size(), 3u);

    // The manager reaches this host through its own agent, under this
    // computer's name, and shows its enclosures in the tree.
    auto* main = qobject_cast<CMainWnd*>(app.MainWindow());
    ASSERT_NE(main, nullptr);
    CEncTree* tree = main->LeftPane()->Tree();
    ASSERT_TRUE(WaitUntil([&] { return tree->HostCount() == 1; }));
    EXPECT_EQ(tree->HostNames().front(),
              ManagerComputerName() + u":" + Utf8ToUtf16(std::to_string(options_.agent_port)));
    EXPECT_TRUE(WaitUntil([&] { return tree->SubEncsOf(tree->Host(0)).size() >= 2; }, 10000));

    // A click on the demo enclosure's node shows it on the right, titled
    // "host > enclosure", with its power supplies in their group.
    CSubEnc* demo = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        for (CSubEnc* subenc : tree->SubEncsOf(tree->Host(0)))
            if (std::string(subenc->system_name) == "DEMO-JBOD") demo = subenc;
        return demo != nullptr;
    }));
    const QPoint node = tree->SubEncRowRect(demo).center();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, node);
    ASSERT_TRUE(WaitUntil([&] { return main->RightPane()->ShownSubEnclosure() == demo; }));
    EXPECT_TRUE(main->RightPane()->TitleBar()->Title().endsWith(" > DEMO-JBOD"));
    CElemListBox* list = main->RightPane()->List();
    std::vector<QString> rows;
    for (int i = 0; i < list->RowCount(); ++i)
        rows.push_back(list->RowText(i));
    EXPECT_NE(std::find_if(rows.begin(), rows.end(),
                           [](const QString& text) { return text.startsWith("Power Supply"); }),
              rows.end());

    // The About command opens the About window centred on the main window.
    app.OnCommand(CHalvorinApp::kAboutCommand);
    QWidget* about = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == "AboutWnd" && widget->isVisible()) about = widget;
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->size(), QSize(360, 270));
    EXPECT_LE((about->geometry().center() - main->geometry().center()).manhattanLength(), 2);
    about->close();

    // What the element views log reaches the main window's event list.
    AddOperatorEvent(1, nullptr, 20023, {"rack-7"});
    CEventList* events = main->EventPane()->List();
    const CEventItem* last = events->Item(events->RowCount() - 1);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->text, "System name was changed to rack-7.");
}

// The demo's power supply fails 90 s into the scenario. The operator switches
// a slot's LED, the enclosure's status is read back with it, and the failure
// shows in the event list and on the power supply's row.
TEST_F(AppTest, TheDemosPowerSupplyFailureReachesTheEventListAndTheView) {
    ManualClock demo_time(QDateTime::currentSecsSinceEpoch());
    options_.demo = true;
    options_.demo_clock = &demo_time;
    CHalvorinApp app(options_);
    ASSERT_TRUE(app.Startup());
    auto* main = qobject_cast<CMainWnd*>(app.MainWindow());
    CEncTree* tree = main->LeftPane()->Tree();
    CSubEnc* demo = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (int h = 0; h < tree->HostCount(); ++h)
                for (CSubEnc* subenc : tree->SubEncsOf(tree->Host(h)))
                    if (std::string(subenc->system_name) == "DEMO-JBOD") demo = subenc;
            return demo != nullptr;
        },
        10000));
    ASSERT_TRUE(tree->SelectSubEnc(demo));
    CElemListBox* list = main->RightPane()->List();
    ASSERT_EQ(list->CurrentSubEnc(), demo);
    const auto group_row = [&](uint8_t type) {
        for (int i = 0; i < list->RowCount(); ++i) {
            const CItemData* row = list->Row(i);
            const ElementGroup* group = GroupAt(row->group_row);
            if ((row->flags & ROW_GROUP_HEADER) && !(row->flags & ROW_PANEL) && group &&
                group->type == type)
                return i;
        }
        return -1;
    };
    demo_time.AdvanceSeconds(100);

    const int slot_group = group_row(kTypeArrayDeviceSlot);
    ASSERT_GE(slot_group, 0);
    list->ToggleGroup(slot_group);
    QPoint on_switch;
    for (int i = slot_group + 1; i < list->RowCount() && on_switch.isNull(); ++i) {
        const QRect r = list->RowRect(i);
        for (int x = r.left(); x < r.right() && on_switch.isNull(); x += 4)
            if (HitSpot(list->HitTest({x, r.center().y()})) == HS_IDENT_LED)
                on_switch = {x, r.center().y()};
    }
    ASSERT_FALSE(on_switch.isNull());
    QTest::mouseClick(list, Qt::LeftButton, {}, on_switch);  // returns once the enclosure answered

    CEventList* events = main->EventPane()->List();
    const auto logged = [&](const QString& text) {
        for (int i = 0; i < events->RowCount(); ++i)
            if (events->Item(i) && events->Item(i)->text == text) return events->Item(i);
        return static_cast<const CEventItem*>(nullptr);
    };
    ASSERT_TRUE(WaitUntil([&] { return logged("Power supply 2 of power supply has failed."); }));
    const CEventItem* failed = logged("Power supply 2 of power supply has failed.");
    EXPECT_EQ(failed->level, kEventError);
    EXPECT_EQ(failed->source, "DEMO-JBOD");
    const int psu = group_row(kTypePowerSupply);
    ASSERT_GE(psu, 0);
    list->ToggleGroup(psu);
    list->RefreshPass();
    EXPECT_EQ(list->Row(psu)->group_count, 1);  // the group's failure badge
    int failed_rows = 0;
    for (int i = psu + 1; i < list->RowCount() && !(list->Row(i)->flags & ROW_GROUP_HEADER); ++i)
        failed_rows += (list->Row(i)->flags & ROW_FAILED) ? 1 : 0;
    EXPECT_EQ(failed_rows, 1);
}

TEST_F(AppTest, AClickOnADashboardNameOpensThatEnclosure) {
    options_.demo = true;
    CHalvorinApp app(options_);
    ASSERT_TRUE(app.Startup());
    auto* main = qobject_cast<CMainWnd*>(app.MainWindow());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main));
    CEncTree* tree = main->LeftPane()->Tree();
    ASSERT_TRUE(WaitUntil(
        [&] { return tree->HostCount() == 1 && tree->SubEncsOf(tree->Host(0)).size() == 3; },
        10000));
    CElemListBox* list = main->RightPane()->List();
    EXPECT_TRUE(list->ShowsWelcome());
    main->OnCommand(254);  // Dashboard
    ASSERT_EQ(list->RowCount(), 4);
    int lab = -1;
    for (int i = 1; i < list->RowCount(); ++i)
        if (list->RowText(i).startsWith("LAB-JBOD-84: Device Slot OK(84)")) lab = i;
    ASSERT_GE(lab, 1);
    QTest::mouseClick(list, Qt::LeftButton, {}, QPoint(12, list->RowRect(lab).center().y()));
    ASSERT_NE(list->CurrentSubEnc(), nullptr);
    EXPECT_EQ(std::string(list->CurrentSubEnc()->system_name), "LAB-JBOD-84");
    EXPECT_FALSE(main->RightPane()->Dashboard());
}

// ---- settings ---------------------------------------------------------------

TEST_F(AppTest, NameListsAreNamesEachFollowedByALineFeed) {
    AppSettings settings;
    settings.WriteNameList("Domains", {"storage-01", "storage-02"});
    EXPECT_EQ(StoredSetting("Domains").toString(), "storage-01\nstorage-02\n");
    EXPECT_EQ(settings.ReadNameList("Domains"), QStringList({"storage-01", "storage-02"}));

    StoreSetting("Domains", "storage-01\nstorage-02");  // no final line feed
    EXPECT_EQ(settings.ReadNameList("Domains"), QStringList({"storage-01", "storage-02"}));
    StoreSetting("Domains", "storage-01");
    EXPECT_EQ(settings.ReadNameList("Domains"), QStringList({"storage-01"}));
    StoreSetting("Domains", "");
    EXPECT_TRUE(settings.ReadNameList("Domains").isEmpty());
    EXPECT_TRUE(settings.ReadNameList("Clients").isEmpty());  // absent

    QStringList many;
    for (int i = 0; i < 600; ++i)
        many << QString("HOST%1").arg(i);
    settings.WriteNameList("Clients", many, AppSettings::kMaxClientNames);
    EXPECT_EQ(settings.ReadNameList("Clients").size(), 512);
    EXPECT_TRUE(settings.FilePath().startsWith(config_.path()));
}

}  // namespace
}  // namespace halvorin
