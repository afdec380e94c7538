// Agent mode end to end: the application in either run mode, the agent
// window's list of authorised clients over the process's real agent server,
// real managers connecting to it, and the switch between the modes.
#include <dirent.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include <QAccessible>
#include <QSettings>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

#include "base/utf16.h"
#include "enclosure/model/domain_registry.h"
#include "enclosure/model/ses_domain.h"
#include "enclosure/poll/poll_step.h"
#include "net/ui/agent_wnd.h"
#include "net/ui/client_list_box.h"
#include "shell/app/halvorin_app.h"
#include "shell/theme/string_resources.h"
#include "shell/tree/enc_tree.h"
#include "shell/tree/left_pane.h"
#include "shell/widgets/flat_tool_button.h"
#include "tests/support/desktop_fixture.h"
#include "tests/support/process.h"

namespace halvorin {
namespace {

using test::WaitUntil;

int CountEntries(const char* directory) {
    int count = 0;
    if (DIR* dir = opendir(directory)) {
        while (readdir(dir))
            ++count;
        closedir(dir);
    }
    return count;
}
int ThreadCount() {
    return CountEntries("/proc/self/task");
}
int DescriptorCount() {
    return CountEntries("/proc/self/fd");
}
// What each open descriptor is ("socket:[123]", a path), for a failure to
// name what was left open.
std::multiset<std::string> Descriptors() {
    std::multiset<std::string> open;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        std::error_code unreadable;
        const std::string target = std::filesystem::read_symlink(entry.path(), unreadable);
        // Sockets and pipes by kind: their numbers change when they are replaced.
        const bool numbered = target.starts_with("socket:") || target.starts_with("pipe:");
        open.insert(unreadable ? "?" : numbered ? target.substr(0, target.find('[')) : target);
    }
    return open;
}
std::string Difference(const std::multiset<std::string>& now,
                       const std::multiset<std::string>& before) {
    std::vector<std::string> more;
    std::set_difference(now.begin(), now.end(), before.begin(), before.end(),
                        std::back_inserter(more));
    std::string text;
    for (const std::string& d : more)
        text += " " + d;
    return text;
}

class AgentModeTest : public test::DesktopTest {
  protected:
    void SetUp() override {
        DesktopTest::SetUp();
        options_.agent_port = test::FreePort();
        options_.accept_claimed_names = true;  // made-up manager names
        options_.history_directory = StateDirectory();
        options_.report_failure = [](const QString& message) {
            ADD_FAILURE() << message.toStdString();
        };
        options_.tray_available = [this] { return tray_; };
    }

    static void Store(const QString& key, const QVariant& value) {
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Halvorin", "Halvorin");
        settings.setValue("CONFIG/" + key, value);
    }
    static QString Stored(const QString& key) {
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Halvorin", "Halvorin");
        return settings.value("CONFIG/" + key).toString();
    }

    // Starts the program in agent mode with `clients` stored.
    CAgentWnd* StartAgent(const QString& clients) {
        Store("RunMode", 1);
        Store("Clients", clients);
        app_ = std::make_unique<CHalvorinApp>(options_);
        if (!app_->Startup()) return nullptr;
        return qobject_cast<CAgentWnd*>(app_->MainWindow());
    }

    static void Click(CAgentWnd* window, CAgentWnd::Button button) {
        QTest::mouseClick(window, Qt::LeftButton, {}, window->ButtonRect(button).center());
    }
    static void Enter(CClientListBox* list, const QString& text) {
        QTest::keyClicks(list, text);
        QTest::keyClick(list, Qt::Key_Return);
    }

    // A manager of its own, saying hello as `name` to this process's agent.
    struct Manager {
        ManualClock clock;
        std::unique_ptr<DomainRegistry> registry;
        CSesDomain* domain = nullptr;

        Manager(const std::u16string& name, uint16_t port) {
            ClientOptions options;
            options.clock = &clock;
            options.computer_name = name;
            options.max_wait = std::chrono::milliseconds(10);
            registry = std::make_unique<DomainRegistry>(options);
            domain = registry->Acquire(u"127.0.0.1:" + Utf8ToUtf16(std::to_string(port)));
        }
        ~Manager() {
            if (domain) registry->Release(domain);
            registry->ReleaseAll();
        }
        // Runs its poll step, which takes the agent's answers, and tells
        // whether its hello was accepted.
        bool Ready() {
            PollStep(domain);
            return domain->client.state() == kStateReady;
        }
    };

    bool tray_ = false;
    StartupOptions options_;
    std::unique_ptr<CHalvorinApp> app_;
};

TEST_F(AgentModeTest, StartsInTheStoredModeBehindATrayOrAsAnOrdinaryWindow) {
    struct Case {
        int run_mode;
        bool tray;
        const char* window_class;
        bool shown;
    };
    for (const Case& c : {Case{0, true, "MainWnd", true}, Case{1, true, "AgentWnd", false},
                          Case{1, false, "AgentWnd", true}}) {
        SCOPED_TRACE(testing::Message() << "run mode " << c.run_mode << ", tray " << c.tray);
        Store("RunMode", c.run_mode);
        tray_ = c.tray;
        options_.agent_port = test::FreePort();
        options_.accept_claimed_names = true;  // made-up manager names
        CHalvorinApp app(options_);
        ASSERT_TRUE(app.Startup());
        ASSERT_NE(app.MainWindow(), nullptr);
        EXPECT_EQ(app.MainWindow()->objectName(), c.window_class);
        EXPECT_EQ(app.MainWindow()->isVisible(), c.shown);
        if (auto* agent = qobject_cast<CAgentWnd*>(app.MainWindow())) {
            EXPECT_EQ(agent->HasTrayIcon(), c.tray);
            if (c.tray)
                EXPECT_EQ(agent->size(), QSize(240, 300));
            else
                EXPECT_GT(agent->height(), 300);  // the note on the missing tray
        }
    }
}

TEST_F(AgentModeTest, WithoutATrayOfThePlatformTheAgentWindowShows) {
    options_.tray_available = nullptr;  // what this desktop really has
    CAgentWnd* window = StartAgent("");
    ASSERT_NE(window, nullptr);
    const bool tray = QSystemTrayIcon::isSystemTrayAvailable();
    EXPECT_EQ(window->HasTrayIcon(), tray);
    if (tray) GTEST_SKIP() << "this desktop has a notification area";
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_TRUE(window->isVisible());
    // Its title band moves it.
    const QPoint start = window->pos();
    QTest::mousePress(window, Qt::LeftButton, {}, {60, 10});
    QTest::mouseMove(window, {160, 60});
    QTest::mouseRelease(window, Qt::LeftButton, {}, {160, 60});
    EXPECT_TRUE(WaitUntil([&] { return window->pos() == start + QPoint(100, 50); }))
        << window->pos().x() << "," << window->pos().y();
    // Closing it ends the program, as there is no other way back to it.
    bool closed = false;
    QObject::connect(window, &CAgentWnd::Closed, [&] { closed = true; });
    window->close();
    EXPECT_TRUE(closed);
}

TEST_F(AgentModeTest, ClientNamesAreTrimmedCheckedAndStoredEachWithALineFeed) {
    CAgentWnd* window = StartAgent("mgr-a\nmgr-b");  // no final line feed
    ASSERT_NE(window, nullptr);
    CClientListBox* list = window->List();
    EXPECT_EQ(list->Names(), QStringList({"mgr-a", "mgr-b"}));
    EXPECT_EQ(Stored("Clients"), "mgr-a\nmgr-b") << "reading never rewrites what is stored";
    EXPECT_FALSE(window->ButtonEnabled(CAgentWnd::kDeleteButton));

    Click(window, CAgentWnd::kAddButton);
    EXPECT_EQ(list->Editing(), 2);
    Enter(list, "  ops-1  ");
    EXPECT_EQ(list->Names(), QStringList({"mgr-a", "mgr-b", "ops-1"}));
    EXPECT_EQ(Stored("Clients"), "mgr-a\nmgr-b\nops-1\n");
    EXPECT_TRUE(list->Notice().isEmpty());

    // Refused: the same name in other letters (the listed one is selected),
    // an empty name, and anything past fifteen characters.
    Click(window, CAgentWnd::kAddButton);
    Enter(list, "MGR-B");
    EXPECT_EQ(list->Names(), QStringList({"mgr-a", "mgr-b", "ops-1"}));
    EXPECT_EQ(list->Selected(), 1);
    EXPECT_TRUE(list->Notice().contains("MGR-B")) << list->Notice().toStdString();

    Click(window, CAgentWnd::kAddButton);
    Enter(list, "   ");
    EXPECT_EQ(list->EntryCount(), 3);
    EXPECT_EQ(list->Notice(), LoadQString(289));

    Click(window, CAgentWnd::kAddButton);
    QTest::keyClicks(list, "abcdefghijklmnopqrst");
    EXPECT_EQ(list->Name(3), "abcdefghijklmno");
    EXPECT_TRUE(list->Notice().contains("15")) << list->Notice().toStdString();
    QTest::keyClick(list, Qt::Key_Home);
    QTest::keyClick(list, Qt::Key_Right);
    QTest::keyClick(list, Qt::Key_Backspace);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(list->Name(3), "bcdefghijklmno");
    EXPECT_EQ(Stored("Clients"), "mgr-a\nmgr-b\nops-1\nbcdefghijklmno\n");

    // Add stops at eight entries.
    for (const char* name : {"e5", "e6", "e7", "e8"}) {
        ASSERT_TRUE(window->ButtonEnabled(CAgentWnd::kAddButton));
        Click(window, CAgentWnd::kAddButton);
        Enter(list, name);
    }
    EXPECT_EQ(list->EntryCount(), 8);
    EXPECT_FALSE(window->ButtonEnabled(CAgentWnd::kAddButton));
    Click(window, CAgentWnd::kAddButton);
    EXPECT_EQ(list->EntryCount(), 8);
    EXPECT_EQ(list->Editing(), -1);

    // Delete takes the selected entry (the list has scrolled to the last).
    const QPoint on_first_shown(20, 5);
    QTest::mouseClick(list, Qt::LeftButton, {}, on_first_shown);
    ASSERT_GE(list->Selected(), 0);
    const QString chosen = list->Name(list->Selected());
    ASSERT_TRUE(window->ButtonEnabled(CAgentWnd::kDeleteButton));
    Click(window, CAgentWnd::kDeleteButton);
    EXPECT_EQ(list->EntryCount(), 7);
    EXPECT_FALSE(list->Names().contains(chosen));
    EXPECT_FALSE(Stored("Clients").contains(chosen + "\n"));
}

TEST_F(AgentModeTest, AnAddedManagerConnectsAndADeletedOneIsDropped) {
    CAgentWnd* window = StartAgent("");
    ASSERT_NE(window, nullptr);
    CClientListBox* list = window->List();

    Manager stranger(u"STRANGER", options_.agent_port);
    Manager manager(u"MGR-A", options_.agent_port);
    QTest::qWait(300);
    EXPECT_FALSE(manager.Ready());

    Click(window, CAgentWnd::kAddButton);
    Enter(list, "mgr-a");  // any letter case
    ASSERT_TRUE(WaitUntil(
        [&] {
            manager.clock.AdvanceSeconds(1);  // its next attempt
            return manager.Ready();
        },
        15000));
    ASSERT_TRUE(WaitUntil([&] { return list->Status(0).startsWith("Connected from 127.0.0.1:"); }))
        << list->Status(0).toStdString();
    EXPECT_GT(list->RowRect(0).height(), 40);  // the status line
    EXPECT_FALSE(stranger.Ready());

    // A screen reader reads the name with its status; the keyboard selects.
    QAccessibleInterface* view = QAccessible::queryAccessibleInterface(list);
    ASSERT_EQ(view->childCount(), 1);
    EXPECT_TRUE(view->child(0)->text(QAccessible::Name).startsWith("mgr-a, Connected from"));
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Home);
    ASSERT_EQ(list->Selected(), 0);
    Click(window, CAgentWnd::kDeleteButton);
    EXPECT_EQ(list->EntryCount(), 0);
    EXPECT_TRUE(WaitUntil([&] { return !manager.Ready(); }));
    EXPECT_EQ(Stored("Clients"), "");
}

TEST_F(AgentModeTest, TheConnectionStatusFollowsConnectAndDisconnect) {
    // A window that goes after its successor registered (a quick switch
    // back and forth) leaves the successor's notifications alone.
    auto earlier = std::make_unique<CAgentWnd>("earlier", false);
    CAgentWnd* window = StartAgent("MGR-A\n");
    ASSERT_NE(window, nullptr);
    earlier.reset();
    CClientListBox* list = window->List();
    const int idle_height = list->RowRect(0).height();
    {
        Manager manager(u"mgr-a", options_.agent_port);
        ASSERT_TRUE(WaitUntil([&] { return !list->Status(0).isEmpty(); }, 15000));
        EXPECT_TRUE(list->Status(0).startsWith("Connected from 127.0.0.1:"));
    }
    EXPECT_TRUE(WaitUntil([&] { return list->Status(0).isEmpty(); }));
    EXPECT_EQ(list->RowRect(0).height(), idle_height);
}

TEST_F(AgentModeTest, TwentySwitchesLeaveNoThreadSocketOrWindowBehind) {
    options_.demo = true;
    tray_ = true;
    app_ = std::make_unique<CHalvorinApp>(options_);
    ASSERT_TRUE(app_->Startup());
    const auto demo_read = [&] {
        auto* main = qobject_cast<CMainWnd*>(app_->MainWindow());
        if (!main) return false;
        CEncTree* tree = main->LeftPane()->Tree();
        return tree->HostCount() == 1 && tree->SubEncsOf(tree->Host(0)).size() == 3;
    };
    ASSERT_TRUE(WaitUntil(demo_read, 15000));
    QTest::qWait(200);
    const int threads = ThreadCount();
    const int descriptors = DescriptorCount();
    const auto open_before = Descriptors();
    const int widgets = int(QApplication::allWidgets().size());

    for (int i = 0; i < 20; ++i) {
        if (i % 2 == 0) {
            test::AnswerNextBox(test::Answer::kFirst);
            app_->OnCommand(CHalvorinApp::kAgentModeCommand);
            ASSERT_EQ(app_->MainWindow()->objectName(), "AgentWnd");
            // Agent mode holds no connection to any host.
            std::vector<Ref<CSesDomain>> hosts = ProcessRegistry().Snapshot();
            EXPECT_TRUE(hosts.empty()) << i;
        } else {
            app_->OnCommand(CHalvorinApp::kManagerModeCommand);
            ASSERT_EQ(app_->MainWindow()->objectName(), "MainWnd");
        }
        QTest::qWait(20);
    }
    EXPECT_EQ(Stored("RunMode"), "0");
    // Back in manager mode the engine runs again: the demo comes up.
    EXPECT_TRUE(WaitUntil(demo_read, 15000));
    EXPECT_TRUE(WaitUntil(
        [&] {
            return ThreadCount() <= threads && DescriptorCount() <= descriptors &&
                   int(QApplication::allWidgets().size()) <= widgets;
        },
        // Reconnecting starts agent workers for the device list and the
        // first reads; each ends after 10 s without work, which on a busy
        // machine may come well after the last switch.
        30000))
        << "threads " << ThreadCount() << " (" << threads << "), descriptors " << DescriptorCount()
        << " (" << descriptors << ", more now:" << Difference(Descriptors(), open_before)
        << "), widgets " << QApplication::allWidgets().size() << " (" << widgets << ")";
}

TEST_F(AgentModeTest, TheTitleButtonsGoBackToManagerModeAndExitAfterAsking) {
    CAgentWnd* window = StartAgent("");
    ASSERT_NE(window, nullptr);
    QSignalSpy commands(window, &CAgentWnd::Command);
    test::AnswerNextBox(test::Answer::kSecond);
    QTest::mouseClick(window->ToolButton(1), Qt::LeftButton);
    EXPECT_EQ(commands.count(), 0);
    test::AnswerNextBox(test::Answer::kFirst);
    QTest::mouseClick(window->ToolButton(1), Qt::LeftButton);
    ASSERT_EQ(commands.count(), 1);
    EXPECT_EQ(commands.takeFirst().at(0).toInt(), CAgentWnd::kExitCommand);

    QTest::mouseClick(window->ToolButton(0), Qt::LeftButton);  // asks nothing
    EXPECT_EQ(app_->MainWindow()->objectName(), "MainWnd");
    EXPECT_EQ(Stored("RunMode"), "0");
}

TEST_F(AgentModeTest, TheAboutWindowOpensOnceFromEitherMode) {
    CAgentWnd* window = StartAgent("");
    ASSERT_NE(window, nullptr);
    const auto about_windows = [] {
        int count = 0;
        for (QWidget* top : QApplication::topLevelWidgets())
            count += top->objectName() == "AboutWnd" && top->isVisible();
        return count;
    };
    app_->OnCommand(CHalvorinApp::kAboutCommand);
    app_->OnCommand(CHalvorinApp::kAboutCommand);
    EXPECT_EQ(about_windows(), 1);
    app_->OnCommand(CHalvorinApp::kManagerModeCommand);
    app_->OnCommand(CHalvorinApp::kAboutCommand);
    EXPECT_EQ(about_windows(), 1);
}

}  // namespace
}  // namespace halvorin
