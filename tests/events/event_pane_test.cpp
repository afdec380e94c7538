// The event pane's roads: status changes of a real model (simulated
// enclosures behind a real agent), operator events, records from other
// threads, and the history that outlives the program.
#include "shell/events/event_pane.h"
#include "shell/widgets/flat_tool_button.h"

#include <QTest>
#include <filesystem>
#include <fstream>
#include <thread>

#include "enclosure/model/display_name.h"
#include "enclosure/model/element_naming.h"
#include "enclosure/model/ses_domain.h"
#include "enclosure/poll/standing_events.h"
#include "shell/events/event_list.h"
#include "shell/events/event_record.h"
#include "shell/events/event_tool_bar.h"
#include "shell/events/operator_event.h"
#include "tests/support/desktop_fixture.h"
#include "tests/support/loopback_manager.h"
#include "tests/support/sim_fixture.h"

namespace halvorin {
namespace {

using test::WaitUntil;

class EventPaneTest : public test::DesktopTest {
  protected:
    void SetUp() override {
        DesktopTest::SetUp();
        UseApplicationLook();
        SetElementTypeNames(ElementTypeNamesFromStrings());
    }
    void TearDown() override {
        pane_.reset();
        DesktopTest::TearDown();
    }

    void OpenPane(std::string directory) {
        pane_ = std::make_unique<CEventPane>(std::move(directory), clock_);
        pane_->resize(400, 500);
        pane_->show();
    }

    // The texts of the list's events, top to bottom ("-" for the spacer).
    std::vector<QString> Texts() const {
        std::vector<QString> texts;
        CEventList* list = pane_->List();
        for (int i = 0; i < list->RowCount(); ++i)
            texts.push_back(list->Item(i) ? list->Item(i)->text : QString("-"));
        return texts;
    }

    ManualClock clock_{1'765'000'000};
    std::unique_ptr<CEventPane> pane_;
};

TEST_F(EventPaneTest, AFailingPowerSupplyBecomesErrorEventsAboutItsEnclosure) {
    sim::Scenario scenario = test::LoadShippedScenario("jbod24.json");
    sim::EventSpec failure;
    failure.at_seconds = 120;
    failure.action = sim::EventAction::kPowerSupplyFail;
    failure.type = sim::kPowerSupply;
    failure.element = 1;
    scenario.events.push_back(failure);
    test::LoopbackManager manager({scenario});
    std::string error;
    ASSERT_TRUE(manager.Start(error)) << error;
    OpenPane("");
    ASSERT_TRUE(manager.PollUntil([&] { return manager.AllRead(1); }));
    EXPECT_EQ(Texts(), std::vector<QString>{"-"});  // a healthy enclosure says nothing

    for (int i = 0; i < 3; ++i)
        manager.Advance(60);
    std::vector<Ref<CSubEnc>> subencs = CollectSubEnclosures(manager.domain());
    ASSERT_FALSE(subencs.empty());
    const QString enclosure =
        QString::fromStdU16String(EnclosureDisplayName(subencs.front().get()));
    const std::vector<QString> texts = Texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Power supply 2 of power supply has failed."),
              1)
        << texts.size();
    for (int i = 1; i < pane_->List()->RowCount(); ++i) {
        EXPECT_EQ(pane_->List()->Item(i)->level, kEventError);
        EXPECT_EQ(pane_->List()->Item(i)->source, enclosure);
    }
}

// A fault that stood all along is in the history once, however often the
// program starts; one that appeared while it was closed is logged.
TEST_F(EventPaneTest, ARestartLogsOnlyWhatChangedWhileTheProgramWasClosed) {
    const std::string history = StateDirectory();
    const QString kPowerSupplyFailed = "Power supply 2 of power supply has failed.";
    sim::Scenario scenario = test::LoadShippedScenario("jbod24.json");
    sim::EventSpec failure;
    failure.action = sim::EventAction::kPowerSupplyFail;
    failure.type = sim::kPowerSupply;
    failure.element = 1;
    scenario.events.push_back(failure);
    auto run = [&](const sim::Scenario& enclosure, size_t rows) {
        test::LoopbackManager manager({enclosure});
        std::string error;
        ASSERT_TRUE(manager.Start(error)) << error;
        OpenPane(history);
        ASSERT_TRUE(manager.PollUntil([&] { return manager.AllRead(1); }));
        ASSERT_TRUE(WaitUntil([&] { return size_t(pane_->List()->RowCount()) == rows; }))
            << pane_->List()->RowCount();
        pane_->SaveStandingEvents(CollectStandingEvents(manager.registry()));
        pane_.reset();
    };
    // Two events for the supply, and the empty row at the end.
    run(scenario, 3);
    run(scenario, 3);  // the failed supply stood all along
    sim::EventSpec fan = failure;
    fan.action = sim::EventAction::kFanStop;
    fan.type = sim::kCooling;
    fan.element = 0;
    scenario.events.push_back(fan);
    run(scenario, 4);  // a fan stopped while the program was closed

    OpenPane(history);
    ASSERT_TRUE(WaitUntil([&] { return pane_->List()->RowCount() == 4; }));
    const std::vector<QString> texts = Texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), kPowerSupplyFailed), 1);
    EXPECT_EQ(texts[2], "Cooling device 1 of cooling device has failed.");
}

TEST_F(EventPaneTest, TheHistoryComesBackInOrderAfterARestart) {
    const std::string history = StateDirectory();
    OpenPane(history);
    ASSERT_TRUE(pane_->HistoryWritable());
    pane_->AddOperatorEvent(kEventInformation, nullptr, 20019, {"JBOD-7"});
    clock_.AdvanceSeconds(5);
    pane_->AddOperatorEvent(kEventWarning, nullptr, 20021, {"JBOD-7"});
    clock_.AdvanceSeconds(5);
    pane_->AddOperatorEvent(kEventWarning, nullptr, 20023, {"rack-7"});
    pane_.reset();

    OpenPane(history);
    ASSERT_TRUE(WaitUntil([&] { return pane_->List()->RowCount() == 4; }));
    EXPECT_EQ(Texts(), (std::vector<QString>{"JBOD-7 starts firmware upgrade.",
                                             "Firmware upgrade in JBOD-7 failed.",
                                             "System name was changed to rack-7.", "-"}));
    EXPECT_EQ(pane_->List()->Item(0)->time, 1'765'000'000);
    // The newest of them are in view, not the empty spacer row below them.
    EXPECT_TRUE(WaitUntil([&] { return !pane_->List()->RedrawSuspended(); }));
    EXPECT_FALSE(pane_->List()->RowRect(2).isEmpty());
    EXPECT_EQ(pane_->List()->Item(1)->level, kEventWarning);
    // The events shown from the history are not written again.
    pane_->AddOperatorEvent(kEventInformation, nullptr, 20020, {"JBOD-7"});
    EXPECT_EQ(ReadEventHistory(history, 100).size(), 4u);
}

// A row deleted in editing mode is not brought back by the next start; an
// identical event beside it is kept.
TEST_F(EventPaneTest, ADeletedEventStaysDeletedAfterARestart) {
    const std::string history = StateDirectory();
    OpenPane(history);
    pane_->AddOperatorEvent(kEventWarning, nullptr, 20021, {"JBOD-7"});
    pane_->AddOperatorEvent(kEventWarning, nullptr, 20021, {"JBOD-7"});  // the same second
    clock_.AdvanceSeconds(5);
    pane_->AddOperatorEvent(kEventWarning, nullptr, 20023, {"rack-7"});
    CEventList* list = pane_->List();
    const auto row_of = [&](const QString& text) {
        for (int row = 0; row < list->RowCount(); ++row)
            if (list->Item(row) && list->Item(row)->text == text) return row;
        return -1;
    };
    list->OnCommand(CEventList::kEditCommand);
    for (const QString text :
         {"Firmware upgrade in JBOD-7 failed.", "System name was changed to rack-7."}) {
        QCoreApplication::processEvents();
        const int row = row_of(text);
        QTest::mouseClick(list, Qt::LeftButton, {}, list->ArmZone(row).center());
        ASSERT_EQ(list->ArmedRow(), row);
        QTest::mouseClick(list, Qt::LeftButton, {}, list->DeleteZone(row).center());
    }
    const std::vector<QString> kept = Texts();
    ASSERT_EQ(std::count(kept.begin(), kept.end(), "Firmware upgrade in JBOD-7 failed."), 1);
    ASSERT_EQ(kept.size(), 2u);
    pane_.reset();

    OpenPane(history);
    ASSERT_TRUE(WaitUntil([&] { return pane_->List()->RowCount() >= 2; }));
    QTest::qWait(50);
    EXPECT_EQ(Texts(), (std::vector<QString>{"Firmware upgrade in JBOD-7 failed.", "-"}));
}

TEST_F(EventPaneTest, DamagedHistoryLinesAreSkipped) {
    const std::string history = StateDirectory();
    EventLogWriter writer(history);
    ASSERT_TRUE(writer.Append({100, 2, u"JBOD-1", u"Before the damage."}));
    {
        std::ofstream log(EventLogPath(history, writer.current()), std::ios::app);
        log << "not an event\n" << std::string(70000, '\xff') << "\n\t\t\t\n";
    }
    ASSERT_TRUE(writer.Append({200, 1, u"JBOD-1", u"After the damage."}));
    {
        std::ofstream log(EventLogPath(history, writer.current()), std::ios::app);
        log << "300\t1\tJBOD-1";  // cut off in the middle of a line
    }
    OpenPane(history);
    ASSERT_TRUE(WaitUntil([&] { return pane_->List()->RowCount() == 3; }));
    EXPECT_EQ(Texts(), (std::vector<QString>{"Before the damage.", "After the damage.", "-"}));
}

TEST_F(EventPaneTest, AnUnusableHistoryDirectoryIsReportedOnceAndEventsStillShow) {
    // Its parent is a file: the directory can never be made.
    const std::string blocker = config_.path().toStdString() + "/blocker";
    std::ofstream(blocker) << "x";
    testing::internal::CaptureStderr();
    OpenPane(blocker + "/Halvorin");
    pane_->AddOperatorEvent(kEventWarning, nullptr, 20023, {"one"});
    pane_->AddOperatorEvent(kEventWarning, nullptr, 20023, {"two"});
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(pane_->HistoryWritable());
    EXPECT_NE(said.find("event history"), std::string::npos);
    EXPECT_EQ(said.find("event history"), said.rfind("event history"));  // once
    // The operator is told in the list itself, once for the whole outage.
    const auto notices = [&](const QString& start) {
        const std::vector<QString> texts = Texts();
        return std::count_if(texts.begin(), texts.end(),
                             [&](const QString& text) { return text.startsWith(start); });
    };
    ASSERT_TRUE(WaitUntil([&] { return notices("The event history cannot be written (") == 1; }));
    pane_->AddOperatorEvent(kEventWarning, nullptr, 20023, {"more"});
    QApplication::processEvents();
    EXPECT_EQ(notices("The event history cannot be written ("), 1);

    // Once the history can be written again, it is, and the list says so.
    std::filesystem::remove(blocker);
    pane_->AddOperatorEvent(kEventWarning, nullptr, 20023, {"three"});
    EXPECT_TRUE(pane_->HistoryWritable());
    EXPECT_TRUE(WaitUntil([&] {
        return notices("The event history is written again; 4 events could not be kept.") == 1;
    }));
    const std::vector<EventEntry> kept = ReadEventHistory(blocker + "/Halvorin", 10);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].message, u"System name was changed to three.");
}

TEST_F(EventPaneTest, RecordsFromOtherThreadsGoInAtTheTopAndDamagedOnesAreDropped) {
    OpenPane("");
    pane_->AddOperatorEvent(kEventInformation, nullptr, 20020, {"JBOD-1"});
    std::thread sender([pane = pane_.get()] {
        CEventPane::PostEventRecord(pane, MakeEventRecord({50, 2, u"JBOD-9", u"From afar."}));
        std::vector<uint8_t> damaged = MakeEventRecord({60, 1, u"JBOD-9", u"Cut short."});
        damaged.resize(damaged.size() - 4);  // the message loses its terminator
        CEventPane::PostEventRecord(pane, std::move(damaged));
    });
    sender.join();
    ASSERT_TRUE(WaitUntil([&] { return pane_->DroppedRecords() == 1; }));
    EXPECT_EQ(Texts(),
              (std::vector<QString>{"From afar.", "-", "JBOD-1 completes firmware upgrade."}));
    EXPECT_EQ(pane_->List()->Item(0)->source, "JBOD-9");
}

TEST_F(EventPaneTest, TheToolBarSwitchesTheListsEditingModeAndOperatorEventsNeedASink) {
    OpenPane("");
    CEventToolBar* bar = pane_->ToolBar();
    EXPECT_EQ(bar->objectName(), "EventToolBar");
    EXPECT_EQ(bar->Caption(), "Device Event");
    EXPECT_EQ(bar->ButtonToolTip(), "Editing events");
    QTest::mouseClick(bar->Button(), Qt::LeftButton);
    EXPECT_TRUE(pane_->List()->Editing());
    EXPECT_EQ(bar->ButtonToolTip(), "Exit Editing");
    QTest::mouseClick(bar->Button(), Qt::LeftButton);
    EXPECT_FALSE(pane_->List()->Editing());

    AddOperatorEvent(kEventWarning, nullptr, 20023, {"nowhere"});  // no sink: nothing happens
    InstallOperatorEventSink([&](int level, CSubEnc* subenc, int id, const QStringList& arguments) {
        pane_->AddOperatorEvent(level, subenc, id, arguments);
    });
    AddOperatorEvent(kEventWarning, nullptr, 20023, {"rack-7"});
    InstallOperatorEventSink(nullptr);
    EXPECT_EQ(Texts(), (std::vector<QString>{"-", "System name was changed to rack-7."}));
}

}  // namespace
}  // namespace halvorin
