// The left pane over real hosts: simulated enclosures behind real agents on
// loopback, one registry reaching them all, the pane's own poll driver.
#include "shell/tree/left_pane.h"
#include "shell/widgets/flat_tool_button.h"

#include <QSettings>
#include <QTest>

#include "enclosure/model/element_naming.h"
#include "enclosure/model/reachability.h"
#include "enclosure/model/ses_dev.h"
#include "enclosure/model/ses_domain.h"
#include "enclosure/model/sub_enc.h"
#include "net/ui/server_edit_bar.h"
#include "shell/app/app_settings.h"
#include "shell/events/operator_event.h"
#include "shell/frame/right_pane.h"
#include "shell/tree/enc_tree.h"
#include "shell/tree/left_tool_bar.h"
#include "shell/tree/poll_driver.h"
#include "tests/support/desktop_fixture.h"
#include "tests/support/loopback_manager.h"
#include "tests/support/sim_fixture.h"
#include "views/elem_list_box.h"
#include "views/overview_rows.h"

namespace halvorin {
namespace {

using test::WaitUntil;

// A port on loopback where nothing listens.
constexpr char16_t kUnreachableHost[] = u"127.0.0.1:9";

class LeftPaneTest : public test::DesktopTest {
  protected:
    void SetUp() override {
        DesktopTest::SetUp();
        UseApplicationLook();
        SetElementTypeNames(ElementTypeNamesFromStrings());
        registry_ = std::make_unique<DomainRegistry>(test::LoopbackManager::ManagerOptions(clock_));
    }
    void TearDown() override {
        window_.reset();
        registry_.reset();
        agents_.clear();
        DesktopTest::TearDown();
    }

    QString StartAgent(const char* scenario) {
        agents_.push_back(std::make_unique<test::LoopbackManager>(
            std::vector{test::LoadShippedScenario(scenario)}));
        std::string error;
        EXPECT_TRUE(agents_.back()->StartAgent(error)) << error;
        return QString::fromStdU16String(agents_.back()->HostName());
    }

    void OpenPane() {
        window_ = std::make_unique<QWidget>();
        window_->resize(900, 700);
        pane_ = new CLeftPane(*registry_, window_.get());
        right_ = new CRightPane(registry_.get(), window_.get());
        pane_->setGeometry(0, 0, 320, 700);
        right_->setGeometry(322, 0, 578, 700);
        pane_->SetRightPane(right_);
        pane_->LoadDomains();
        pane_->StartPolling();
        window_->show();
    }

    CSesDomain* HostNamed(const QString& name) {
        for (int i = 0; i < pane_->Tree()->HostCount(); ++i) {
            CSesDomain* host = pane_->Tree()->Host(i);
            if (QString::fromStdU16String(host->host_name) == name) return host;
        }
        return nullptr;
    }

    // The host's enclosures are in the tree.
    bool ShowsEnclosures(const QString& name, size_t count) {
        CSesDomain* host = HostNamed(name);
        return host && pane_->Tree()->SubEncsOf(host).size() == count;
    }

    // Lets a minute pass at a time (each one re-reads every host's device
    // list) until `done`; a device list already on its way may predate a
    // change, so one minute is not always enough.
    bool MinutesUntil(const std::function<bool()>& done) {
        for (int minute = 0; minute < 3; ++minute) {
            Advance(61);
            if (WaitUntil(done, 3000)) return true;
        }
        return false;
    }

    // Lets `seconds` pass for the manager and every agent's enclosures.
    void Advance(int seconds) {
        clock_.AdvanceSeconds(seconds);
        for (auto& agent : agents_)
            agent->clock().AdvanceSeconds(seconds);
        for (int i = 0; i < pane_->Tree()->HostCount(); ++i)
            pane_->Tree()->Host(i)->client.Wake();
        pane_->Driver()->Tick();
    }

    static size_t DevicesReady(CSesDomain* host) {
        std::vector<Ref<CSesDev>> devices = SnapshotDevices(host);
        const auto ready = std::count_if(devices.begin(), devices.end(), [](const Ref<CSesDev>& d) {
            return (d->Flags() & kDeviceReady) != 0;
        });
        return size_t(ready);
    }

    QString StoredDomains() {
        return QSettings(AppSettings::kOrganization, AppSettings::kApplication)
            .value("CONFIG/Domains")
            .toString();
    }

    void ClickTree(QPoint at) {
        QTest::mouseMove(pane_->Tree()->viewport(), at);
        QTest::mouseClick(pane_->Tree()->viewport(), Qt::LeftButton, {}, at);
    }

    ManualClock clock_;
    std::unique_ptr<DomainRegistry> registry_;
    std::vector<std::unique_ptr<test::LoopbackManager>> agents_;
    std::unique_ptr<QWidget> window_;
    CLeftPane* pane_ = nullptr;
    CRightPane* right_ = nullptr;
};

TEST_F(LeftPaneTest, HostsAddedByTheEntryBarAreKeptConnectedAndShowTheirState) {
    const QString jbod24 = StartAgent("jbod24.json");
    const QString jbod84 = StartAgent("jbod84-dual-path.json");
    OpenPane();
    for (const QString& name : {jbod24, jbod84, QString::fromStdU16String(kUnreachableHost)}) {
        QTest::mouseClick(pane_->EditBar(), Qt::LeftButton, {},
                          pane_->EditBar()->FieldRect().center());
        QTest::keyClicks(pane_->EditBar(), name);
        QTest::keyClick(pane_->EditBar(), Qt::Key_Return);
    }
    EXPECT_EQ(StoredDomains(), jbod24 + "\n" + jbod84 + "\n127.0.0.1:9\n");
    // The dual-path enclosure (two sub-enclosures) is reached through two
    // devices and shown once.
    ASSERT_TRUE(
        WaitUntil([&] { return ShowsEnclosures(jbod24, 1) && ShowsEnclosures(jbod84, 2); }, 10000));
    CSesDomain* unreachable = HostNamed(QString::fromStdU16String(kUnreachableHost));
    ASSERT_NE(unreachable, nullptr);
    EXPECT_TRUE(WaitUntil([&] {
        return pane_->Tree()->StatusText(unreachable) == "Unreachable!" ||
               unreachable->client.state() == kStateUnreachable;
    }));
    // Its text blinks with the tree's 750 ms phase.
    pane_->Tree()->BlinkTick();
    const bool shown = pane_->Tree()->StatusTextShown(unreachable);
    pane_->Tree()->BlinkTick();
    EXPECT_NE(pane_->Tree()->StatusTextShown(unreachable), shown);
    EXPECT_EQ(pane_->Tree()->StatusText(unreachable), "Unreachable!");
    EXPECT_EQ(pane_->Tree()->StatusText(HostNamed(jbod24)), "");

    // The same name again adds nothing and leaves "Domains" alone.
    QSettings(AppSettings::kOrganization, AppSettings::kApplication).remove("CONFIG/Domains");
    EXPECT_FALSE(pane_->AddHost(jbod24));
    EXPECT_EQ(pane_->Tree()->HostCount(), 3);
    EXPECT_FALSE(QSettings(AppSettings::kOrganization, AppSettings::kApplication)
                     .contains("CONFIG/Domains"));

    // A new pane over the same settings brings the same hosts back.
    pane_->SaveDomains();
    window_.reset();
    registry_->ReleaseAll();
    OpenPane();
    pane_->Refresh();
    EXPECT_EQ(pane_->Tree()->HostNames(),
              (std::vector<std::u16string>{jbod24.toStdU16String(), jbod84.toStdU16String(),
                                           kUnreachableHost}));
}

// This computer's own agent shows in the tree but is not stored: its name
// carries this run's port, and the next run, on another port, would show a
// host that is never there.
TEST_F(LeftPaneTest, TheLocalHostIsShownButNotStored) {
    const QString jbod24 = StartAgent("jbod24.json");
    OpenPane();
    pane_->SetLocalHost(u"THIS-PC:38486");
    CSesDomain* local = registry_->Acquire(u"THIS-PC:38486");
    ASSERT_NE(local, nullptr);
    registry_->Release(local);
    pane_->Refresh();  // the tree shows every host of the registry
    ASSERT_TRUE(pane_->AddHost(jbod24));
    EXPECT_EQ(pane_->Tree()->HostCount(), 2);
    EXPECT_EQ(StoredDomains(), jbod24 + "\n");
}

TEST_F(LeftPaneTest, SelectingAnEnclosureShowsItAndDeletingItsHostForgetsEverything) {
    const QString jbod24 = StartAgent("jbod24.json");
    AppSettings().WriteNameList(AppSettings::kDomains, {jbod24});
    OpenPane();
    ASSERT_TRUE(WaitUntil([&] { return ShowsEnclosures(jbod24, 1); }, 10000));
    CSesDomain* host = HostNamed(jbod24);
    CSubEnc* subenc = pane_->Tree()->SubEncsOf(host).front();
    ClickTree(pane_->Tree()->SubEncRowRect(subenc).center());
    EXPECT_EQ(right_->ShownSubEnclosure(), subenc);
    EXPECT_EQ(pane_->CurrentHost(), host);

    // The dashboard (command 254) shows every enclosure; an overview row
    // asks for one enclosure again, and the tree selects it.
    ASSERT_TRUE(pane_->OnCommand(CLeftPane::kDashboardCommand));
    EXPECT_TRUE(right_->Dashboard());
    EXPECT_EQ(right_->ShownSubEnclosure(), nullptr);
    pane_->Tree()->clearSelection();
    pane_->OpenSubEnc(subenc);
    EXPECT_EQ(pane_->Tree()->SelectedSubEnc(), subenc);
    EXPECT_EQ(right_->ShownSubEnclosure(), subenc);

    // Editing mode: a click in the arm zone arms the host, one in its
    // delete zone deletes it.
    RetainDomain(host);
    const Ref<CSesDomain> kept = Ref<CSesDomain>::Adopt(host);
    QTest::mouseClick(pane_->ToolBar()->Button(), Qt::LeftButton);
    EXPECT_TRUE(pane_->Tree()->Editing());
    const QRect row = pane_->Tree()->HostRowRect(host);
    ClickTree(pane_->Tree()->ArmZone(row).center());
    EXPECT_EQ(pane_->Tree()->ArmedHost(), host);
    ClickTree(pane_->Tree()->DeleteZone(row).center());
    EXPECT_EQ(pane_->Tree()->HostCount(), 0);
    EXPECT_TRUE(right_->Dashboard());
    EXPECT_EQ(right_->ShownSubEnclosure(), nullptr);
    EXPECT_EQ(pane_->CurrentHost(), nullptr);
    EXPECT_EQ(StoredDomains(), "");
    std::vector<Ref<CSesDomain>> left = registry_->Snapshot();
    EXPECT_TRUE(left.empty());
    EXPECT_EQ(kept->client.state(), kStateClosed);
    EXPECT_EQ(kept->client.pending_requests(), 0u);
    // Later ticks do not bring it back.
    pane_->Driver()->Tick();
    EXPECT_EQ(pane_->Tree()->HostCount(), 0);
}

TEST_F(LeftPaneTest, TheKeyboardOpensHostsAndEnclosuresAndEnterMovesToTheView) {
    const QString jbod24 = StartAgent("jbod24.json");
    AppSettings().WriteNameList(AppSettings::kDomains, {jbod24});
    OpenPane();
    ASSERT_TRUE(WaitUntil([&] { return ShowsEnclosures(jbod24, 1); }, 10000));
    CEncTree* tree = pane_->Tree();
    CSubEnc* subenc = tree->SubEncsOf(HostNamed(jbod24)).front();
    window_->activateWindow();
    tree->setFocus(Qt::TabFocusReason);
    QTest::keyClick(tree, Qt::Key_Home);
    const QModelIndex host = tree->currentIndex();
    ASSERT_TRUE(host.isValid());
    ASSERT_FALSE(host.parent().isValid());
    const bool expanded = tree->isExpanded(host);
    QTest::keyClick(tree, Qt::Key_Return);  // a host opens or closes
    EXPECT_NE(tree->isExpanded(host), expanded);
    if (!tree->isExpanded(host)) QTest::keyClick(tree, Qt::Key_Return);
    QTest::keyClick(tree, Qt::Key_Down);  // the arrows show the enclosure
    EXPECT_EQ(right_->ShownSubEnclosure(), subenc);
    QTest::keyClick(tree, Qt::Key_Enter);  // and Enter goes to it
    EXPECT_EQ(window_->focusWidget(), right_->List());
}

TEST_F(LeftPaneTest, ADualPathNodeFollowsTheRemainingPathAndAGoneEnclosureLeavesTheRightPane) {
    const QString jbod84 = StartAgent("jbod84-dual-path.json");
    AppSettings().WriteNameList(AppSettings::kDomains, {jbod84});
    OpenPane();
    CSesDomain* host = nullptr;
    // Both paths read: the nodes show the enclosure through the first one.
    ASSERT_TRUE(WaitUntil(
        [&] {
            host = HostNamed(jbod84);
            return host && ShowsEnclosures(jbod84, 2) && DevicesReady(host) == 2;
        },
        10000));
    pane_->Refresh();
    const std::vector<CSubEnc*> before = pane_->Tree()->SubEncsOf(host);
    const auto first_id = before[0]->logical_id;
    ASSERT_TRUE(pane_->Tree()->SelectSubEnc(before[1]));
    EXPECT_EQ(right_->ShownSubEnclosure(), before[1]);

    // The path the nodes show goes away; the enclosure is still there
    // through the other one, and the nodes follow it.
    test::LoopbackManager& agent = *agents_.front();
    ASSERT_TRUE(agent.host().SetDevicePresent(agent.enclosure(), 0, false));
    ASSERT_TRUE(MinutesUntil([&] {
        const auto now = pane_->Tree()->SubEncsOf(host);
        return now.size() == 2 && now[0] != before[0] && now[1] != before[1];
    }));
    const std::vector<CSubEnc*> after = pane_->Tree()->SubEncsOf(host);
    EXPECT_EQ(after[0]->logical_id, first_id);
    EXPECT_EQ(right_->ShownSubEnclosure(), after[1]);
    EXPECT_EQ(pane_->Tree()->SelectedSubEnc(), after[1]);

    // Both paths gone: the node goes, and the right pane lets go first.
    ASSERT_TRUE(agent.host().SetDevicePresent(agent.enclosure(), 1, false));
    ASSERT_TRUE(MinutesUntil([&] { return ShowsEnclosures(jbod84, 0); }));
    EXPECT_EQ(right_->ShownSubEnclosure(), nullptr);
    EXPECT_TRUE(right_->Dashboard());
}

// A host whose agent goes away must not look alive: the event list says it
// was lost and why, its enclosures are marked as no longer current in the
// tree, the dashboard and the right pane (whose actions then refuse at once),
// and it is back within seconds of its agent.
TEST_F(LeftPaneTest, ALostHostIsMarkedEverywhereAndLoggedLostAndBack) {
    const QString jbod24 = StartAgent("jbod24.json");
    const uint16_t port = uint16_t(jbod24.section(':', 1).toUInt());
    AppSettings().WriteNameList(AppSettings::kDomains, {jbod24});
    std::vector<std::pair<int, QStringList>> events;
    InstallOperatorEventSink([&](int, CSubEnc*, int id, const QStringList& arguments) {
        events.emplace_back(id, arguments);
    });
    OpenPane();
    CSesDomain* host = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            host = HostNamed(jbod24);
            return host && ShowsEnclosures(jbod24, 1) && DevicesReady(host) == 1;
        },
        10000));
    CSubEnc* subenc = pane_->Tree()->SubEncsOf(host).front();
    ASSERT_TRUE(pane_->Tree()->SelectSubEnc(subenc));
    EXPECT_TRUE(right_->List()->ShowsCurrentValues());
    EXPECT_TRUE(pane_->Tree()->HostProblem(host).isEmpty());

    agents_.front()->StopAgent();
    ASSERT_TRUE(WaitUntil([&] { return !events.empty(); }, 5000));
    EXPECT_EQ(events.front().first, 313);
    EXPECT_EQ(events.front().second.value(0), jbod24);
    EXPECT_FALSE(events.front().second.value(1).isEmpty());
    EXPECT_TRUE(pane_->Tree()->HostProblem(host).startsWith("Host " + jbod24 + " was lost: "))
        << pane_->Tree()->HostProblem(host).toStdString();
    EXPECT_FALSE(IsCurrent(*subenc));
    EXPECT_TRUE(ShowsEnclosures(jbod24, 1));  // kept, marked
    EXPECT_FALSE(right_->List()->ShowsCurrentValues());
    EXPECT_TRUE(right_->List()->ToolTipText(MakeHitCode(1, 0)).startsWith("Not reachable since "));
    const OverviewShown shown = OverviewShownOf(subenc);
    EXPECT_FALSE(shown.current);
    EXPECT_TRUE(OverviewRowText(shown).contains("Unreachable since "));

    std::string error;
    ASSERT_TRUE(agents_.front()->StartAgent(error, port)) << error;
    ASSERT_TRUE(WaitUntil(
        [&] {
            Advance(1);
            return events.size() >= 2;
        },
        8000));
    EXPECT_EQ(events[1].first, 314);
    EXPECT_TRUE(IsCurrent(*subenc));
    EXPECT_TRUE(right_->List()->ShowsCurrentValues());
    EXPECT_TRUE(pane_->Tree()->HostProblem(host).isEmpty());
    InstallOperatorEventSink(nullptr);
}

// An enclosure that goes from a host that still answers is logged gone and
// back, and shown as not current while it is away.
TEST_F(LeftPaneTest, AnEnclosureThatLeavesAHostThatStillAnswersIsLoggedGoneAndBack) {
    const QString jbod24 = StartAgent("jbod24.json");
    AppSettings().WriteNameList(AppSettings::kDomains, {jbod24});
    std::vector<int> events;
    InstallOperatorEventSink(
        [&](int, CSubEnc*, int id, const QStringList&) { events.push_back(id); });
    OpenPane();
    ASSERT_TRUE(WaitUntil([&] { return ShowsEnclosures(jbod24, 1); }, 10000));
    test::LoopbackManager& agent = *agents_.front();
    ASSERT_TRUE(agent.host().SetDevicePresent(agent.enclosure(), 0, false));
    ASSERT_TRUE(MinutesUntil([&] { return !events.empty(); }));
    EXPECT_EQ(events, std::vector<int>{321});
    ASSERT_TRUE(agent.host().SetDevicePresent(agent.enclosure(), 0, true));
    ASSERT_TRUE(MinutesUntil([&] { return events.size() == 2; }));
    EXPECT_EQ(events.back(), 322);
    InstallOperatorEventSink(nullptr);
}

TEST_F(LeftPaneTest, AConnectedHostWithoutDevicesSaysSoOnlyAfterItsDeviceListDeadline) {
    const QString empty = StartAgent("jbod24.json");
    test::LoopbackManager& agent = *agents_.front();
    ASSERT_TRUE(agent.host().SetDevicePresent(agent.enclosure(), 0, false));
    AppSettings().WriteNameList(AppSettings::kDomains, {empty});
    OpenPane();
    CSesDomain* host = HostNamed(empty);
    ASSERT_NE(host, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return host->client.state() == kStateReady; }));
    pane_->Driver()->Tick();
    pane_->Tree()->BlinkTick();
    EXPECT_EQ(pane_->Tree()->StatusText(host), "");
    Advance(6);
    EXPECT_EQ(pane_->Tree()->StatusText(host), "No device found!");
    pane_->Tree()->BlinkTick();
    EXPECT_TRUE(pane_->Tree()->StatusTextShown(host));  // steady, not blinking
}

}  // namespace
}  // namespace halvorin
