// The element list over a real model: simulated enclosures behind a real
// agent on loopback, read by the real client and poll step.
#include "views/elem_list_box.h"

#include <QAccessible>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <map>

#include "enclosure/model/display_name.h"
#include "enclosure/model/element_condition.h"
#include "enclosure/model/element_naming.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/ses_dev.h"
#include "enclosure/model/ses_domain.h"
#include "enclosure/ops/control_operations.h"
#include "sim/simulated_enclosure.h"
#include "tests/support/desktop_fixture.h"
#include "tests/support/loopback_manager.h"
#include "tests/support/sim_fixture.h"

namespace halvorin {
namespace {

using test::WaitUntil;

class ElemListBoxTest : public test::DesktopTest {
  protected:
    void SetUp() override {
        DesktopTest::SetUp();
        UseApplicationLook();
        SetElementTypeNames(ElementTypeNamesFromStrings());
    }
    void TearDown() override {
        list_.reset();
        manager_.reset();
        DesktopTest::TearDown();
    }

    // Loads the scenario, lets `minutes` of history build up and shows its
    // primary sub-enclosure.
    void Open(sim::Scenario scenario, int minutes = 3) {
        manager_ = std::make_unique<test::LoopbackManager>(std::vector{scenario});
        std::string error;
        ASSERT_TRUE(manager_->Start(error)) << error;
        ASSERT_TRUE(manager_->PollUntil([&] { return manager_->AllRead(1); }));
        for (int i = 0; i < minutes; ++i)
            manager_->Advance(60);
        list_ = std::make_unique<CElemListBox>(&manager_->registry());
        list_->resize(1400, 900);
        list_->show();
        std::vector<Ref<CSubEnc>> subencs = CollectSubEnclosures(manager_->domain());
        ASSERT_FALSE(subencs.empty());
        list_->ShowSubEnc(subencs.front().get());
    }
    void Open24(int minutes = 3) { Open(test::LoadShippedScenario("jbod24.json"), minutes); }

    // The 24-bay scenario with one more event.
    static sim::Scenario Jbod24With(int64_t at, sim::EventAction action, uint8_t type,
                                    size_t element = 0) {
        sim::Scenario scenario = test::LoadShippedScenario("jbod24.json");
        sim::EventSpec event;
        event.at_seconds = at;
        event.action = action;
        event.type = type;
        event.element = element;
        scenario.events.push_back(event);
        return scenario;
    }

    // The header of the group showing `type`, or -1.
    int Header(uint8_t type) const {
        for (int i = 0; i < list_->RowCount(); ++i) {
            const CItemData* row = list_->Row(i);
            const ElementGroup* group = GroupAt(row->group_row);
            if ((row->flags & ROW_GROUP_HEADER) && !(row->flags & ROW_PANEL) && group &&
                group->type == type) {
                return i;
            }
        }
        return -1;
    }

    void Click(QPoint at) { QTest::mouseClick(list_.get(), Qt::LeftButton, {}, at); }
    void ClickRow(int row) { Click(list_->RowRect(row).center()); }

    // Settles pending paints, then forgets what was painted.
    void SettlePaints() {
        QApplication::processEvents();
        list_->repaint();
        list_->TakePaintedRows();
    }

    std::unique_ptr<test::LoopbackManager> manager_;
    std::unique_ptr<CElemListBox> list_;
};

TEST_F(ElemListBoxTest, BeforeAnythingIsChosenTheListShowsTheWelcomeScreen) {
    CElemListBox list(nullptr);
    list.resize(900, 600);
    EXPECT_TRUE(list.ShowsWelcome());
    const QImage picture = list.grab().toImage();
    EXPECT_EQ(picture.pixelColor(5, 5), QColor(0xe6, 0xe6, 0xe6));
    // The picture sits in the middle, a third of the way down.
    EXPECT_NE(picture.pixelColor(450, 200), QColor(0xe6, 0xe6, 0xe6));
}

TEST_F(ElemListBoxTest, AFreshViewShowsThePanelAndOneCollapsedHeaderPerGroupInTableOrder) {
    Open24();
    ASSERT_GE(list_->RowCount(), 2);
    EXPECT_EQ(list_->Row(0)->flags, kPanelHeaderFlags);
    EXPECT_EQ(list_->Row(1)->flags & ROW_PANEL, ROW_PANEL);
    std::vector<int> groups;
    for (int i = 2; i < list_->RowCount(); ++i) {
        const CItemData* row = list_->Row(i);
        EXPECT_TRUE(row->flags & ROW_GROUP_HEADER);
        EXPECT_FALSE(row->flags & ROW_EXPANDED);
        groups.push_back(GroupAt(row->group_row)->type);
    }
    // The 24-bay scenario also has current sensors and SAS connectors: no group.
    const std::vector<int> expected = {kTypeZoneEntry,     kTypeArrayDeviceSlot, kTypePowerSupply,
                                       kTypeCooling,       kTypeTemperature,     kTypeVoltage,
                                       kTypeExpanderEntry, kTypePortEntry};
    EXPECT_EQ(groups, expected);
    EXPECT_EQ(list_->RowText(Header(kTypeCooling)), "Cooling Device");
}

TEST_F(ElemListBoxTest, ClickingAHeaderInsertsItsRowsInArrayOrderAndClickingAgainRemovesThem) {
    Open24();
    const int header = Header(kTypeCooling);
    const int before = list_->RowCount();
    ClickRow(header);
    ASSERT_TRUE(list_->Row(header)->flags & ROW_EXPANDED);
    ASSERT_EQ(list_->RowCount(), before + 4);
    for (int i = 0; i < 4; ++i) {
        const CItemData* row = list_->Row(header + 1 + i);
        EXPECT_EQ(row->element->element_index, i);
        EXPECT_EQ(row->flags & ROW_LAST_IN_GROUP, i == 3 ? ROW_LAST_IN_GROUP : 0u);
    }
    ClickRow(header);
    EXPECT_FALSE(list_->Row(header)->flags & ROW_EXPANDED);
    EXPECT_EQ(list_->RowCount(), before);
    // The System Information header does not collapse.
    ClickRow(0);
    EXPECT_EQ(list_->Row(1)->flags & ROW_PANEL, ROW_PANEL);
}

TEST_F(ElemListBoxTest, HitTestingFindsHeadersAndTheSwitchOfInstalledSlotsOnly) {
    Open24();
    const int slot_header = Header(kTypeArrayDeviceSlot);
    ClickRow(slot_header);
    const QRect header = list_->RowRect(slot_header);
    EXPECT_EQ(list_->HitTest(header.center()), MakeHitCode(slot_header, HS_ROW | kClickable));
    const uint32_t panel = list_->HitTest(list_->RowRect(0).center());
    EXPECT_EQ(panel & kClickable, 0u);
    EXPECT_EQ(list_->ToolTipText(list_->HitTest(header.center())),
              "Click to expand or collapse entire group");

    // Slot 1 is installed, slot 7 is empty (status 5): no switch there.
    for (int slot : {1, 7}) {
        const int row = slot_header + slot;
        const QRect r = list_->RowRect(row);
        ASSERT_FALSE(r.isEmpty());
        const QPoint on_switch(r.left() + 160 + 60, r.center().y());
        const uint32_t code = list_->HitTest(on_switch);
        if (slot == 7) {
            EXPECT_EQ(HitSpot(code), HS_NONE);
        } else {
            EXPECT_EQ(code, MakeHitCode(row, HS_IDENT_LED | kClickable)) << std::hex << code;
        }
        EXPECT_EQ(HitSpot(list_->HitTest(QPoint(r.left() + 30, r.center().y()))), HS_NONE);
    }
    EXPECT_EQ(list_->HitTest(QPoint(5, 5000)), kNothingHot);
}

TEST_F(ElemListBoxTest, TheRefreshPassRepaintsExactlyTheRowsWhoseValuesChanged) {
    Open(Jbod24With(10 * 60, sim::EventAction::kPowerSupplyFail, sim::kPowerSupply, 1), 3);
    const int psu = Header(kTypePowerSupply);
    ClickRow(psu);
    SettlePaints();

    // Nothing changed: nothing is painted.
    EXPECT_EQ(list_->RefreshPass(), 0);
    QApplication::processEvents();
    EXPECT_TRUE(list_->TakePaintedRows().empty());

    // Power supply 2 fails: its row and the header's badge, nothing else.
    for (int i = 0; i < 8; ++i)
        manager_->Advance(60);
    SettlePaints();  // the scroll bar or hover may have asked for paints
    list_->TakePaintedRows();
    EXPECT_GE(list_->RefreshPass(), 2);  // the collapsed groups' charts moved on as well
    QApplication::processEvents();
    EXPECT_EQ(list_->TakePaintedRows(), (std::set<int>{psu, psu + 2}));
    EXPECT_EQ(list_->Row(psu)->group_count, 1);
    EXPECT_TRUE(list_->Row(psu + 2)->flags & ROW_FAILED);
    EXPECT_EQ(list_->RowText(psu), "Power Supply ( Failed: 1 )");
}

TEST_F(ElemListBoxTest, ChartsAdvanceOncePerNewSampleAndOnlyThenRepaint) {
    Open24(5);
    const int fans = Header(kTypeCooling);
    ClickRow(fans);
    CItemData& fan = *list_->Row(fans + 1);
    ASSERT_TRUE(fan.flags & ROW_HAS_CHART);
    const int32_t drawn = fan.chart.drawn;
    EXPECT_EQ(drawn, fan.element->update_count);
    list_->RefreshPass();
    EXPECT_EQ(fan.chart.drawn, drawn);
    manager_->Advance(60);
    list_->RefreshPass();
    EXPECT_EQ(fan.chart.drawn, drawn + 1);
}

TEST_F(ElemListBoxTest, TheSlotSwitchLightsTheSimulatorsLedAndTheRowFollows) {
    Open24();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] { manager_->Poll(); });
    poll.start(5);
    const int slot_header = Header(kTypeArrayDeviceSlot);
    ClickRow(slot_header);
    const int row = slot_header + 3;  // slot 3
    const QRect r = list_->RowRect(row);
    Click(QPoint(r.left() + 160 + 60, r.center().y()));  // waits in its modal loop
    EXPECT_TRUE(list_->Row(row)->element->state & kStateIdentifyOn);
    EXPECT_TRUE(list_->Row(row)->shown_state & kStateIdentifyOn);
    EXPECT_TRUE(list_->RowText(row).endsWith("on"));
    const sim::EnclosureState state = manager_->enclosure().Snapshot();
    bool lit = false;
    for (const auto& type : state.types) {
        if (type.type == sim::kArrayDeviceSlot) lit = type.elements.at(2).ident;
    }
    EXPECT_TRUE(lit);
    // And off again.
    Click(QPoint(r.left() + 160 + 60, r.center().y()));
    EXPECT_FALSE(list_->Row(row)->element->state & kStateIdentifyOn);
    // And on through a screen reader's press, which a plain row lacks.
    QAccessibleInterface* view = QAccessible::queryAccessibleInterface(list_.get());
    QAccessibleActionInterface* press = view->child(row)->actionInterface();
    ASSERT_NE(press, nullptr);
    EXPECT_EQ(press->actionNames(), QStringList{QAccessibleActionInterface::pressAction()});
    EXPECT_TRUE(view->child(0)->actionInterface()->actionNames().isEmpty());  // the panel
    press->doAction(QAccessibleActionInterface::pressAction());
    QTRY_VERIFY(list_->Row(row)->element->state & kStateIdentifyOn);
    EXPECT_EQ(list_->CurrentRow(), row);
}

TEST_F(ElemListBoxTest, AConfigurationChangeGivesFreshRowsAndKeepsOpenGroupsOpen) {
    Open(Jbod24With(5 * 60, sim::EventAction::kHideType, sim::kTemperatureSensor), 2);
    ClickRow(Header(kTypeCooling));
    const int temperatures = Header(kTypeTemperature);
    ASSERT_GE(temperatures, 0);
    list_->ToggleGroup(temperatures);  // below the screen now: no click reaches it
    CSesElem* old_sensor = list_->Row(temperatures + 1)->element.get();
    ASSERT_NE(old_sensor, nullptr);

    for (int i = 0; i < 5; ++i)
        manager_->Advance(60);
    list_->RefreshPass();
    EXPECT_EQ(Header(kTypeTemperature), -1);
    EXPECT_TRUE(list_->Row(Header(kTypeCooling))->flags & ROW_EXPANDED);
    for (int i = 0; i < list_->RowCount(); ++i) {
        EXPECT_NE(list_->Row(i)->element.get(), old_sensor);
    }
    list_->repaint();
}

TEST_F(ElemListBoxTest, ADeviceThatDisappearsWhileItsViewIsOpenLeavesNothingDangling) {
    Open24();
    ClickRow(Header(kTypeTemperature));
    CSubEnc* shown = list_->CurrentSubEnc();
    // The enclosure shuts down and leaves the host: the domain drops the device.
    ASSERT_GE(SendEnclosureCommand(shown, kShutdownCommand, [](int) {}), 0);
    for (int i = 0; i < 3; ++i)
        manager_->Advance(60);
    EXPECT_TRUE(shown->dev->IsRemoved());
    // The view still paints what it last knew, refreshes and lets go cleanly.
    list_->RefreshPass();
    list_->repaint();
    for (int i = 0; i < list_->RowCount(); ++i)
        EXPECT_FALSE(list_->RowText(i).isNull());
    list_->ShowSubEnc(nullptr);
    EXPECT_EQ(list_->CurrentSubEnc(), nullptr);
}

TEST_F(ElemListBoxTest, QuickJumpExpandsACollapsedGroupAndScrollsItToTheTop) {
    Open24();
    list_->OpenQuickJump();
    QMenu* menu = list_->QuickJumpMenu();
    ASSERT_NE(menu, nullptr);
    const QList<QAction*> actions = menu->actions();
    ASSERT_GE(actions.size(), 3);
    EXPECT_EQ(actions[0]->text(), "System Information");
    EXPECT_TRUE(actions[1]->isSeparator());
    QAction* temperature = nullptr;
    for (QAction* a : actions) {
        if (a->text() == "Temperature Sensor") temperature = a;
    }
    ASSERT_NE(temperature, nullptr);
    const int row = 0xFFFF - temperature->data().toInt();
    temperature->trigger();
    EXPECT_TRUE(list_->Row(row)->flags & ROW_EXPANDED);
    EXPECT_EQ(list_->TopRow(), std::min(row, list_->ScrollBar().LastTopRow()));
    EXPECT_TRUE(list_->ScrollBar().shown());
}

TEST_F(ElemListBoxTest, KeysMoveBetweenRowsAndToggleGroups) {
    Open24();
    list_->setFocus();
    QTest::keyClick(list_.get(), Qt::Key_End);
    EXPECT_EQ(list_->CurrentRow(), list_->RowCount() - 1);
    QTest::keyClick(list_.get(), Qt::Key_Home);
    EXPECT_EQ(list_->CurrentRow(), 0);
    QTest::keyClick(list_.get(), Qt::Key_Down);
    QTest::keyClick(list_.get(), Qt::Key_Down);
    ASSERT_EQ(list_->CurrentRow(), 2);
    QTest::keyClick(list_.get(), Qt::Key_Return);
    EXPECT_TRUE(list_->Row(2)->flags & ROW_EXPANDED);
    QTest::keyClick(list_.get(), Qt::Key_Space);
    EXPECT_FALSE(list_->Row(2)->flags & ROW_EXPANDED);
}

// In the System Information panel Right moves the ring from the row onto
// each control in turn, and Space presses the one it is on.
TEST_F(ElemListBoxTest, TheKeyboardReachesThePanelsSwitches) {
    Open24();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] { manager_->Poll(); });
    poll.start(5);
    list_->grab();  // the controls are where they were last painted
    const std::vector<RowControl> controls = list_->RowControls(1);
    const auto uid_led = std::find_if(controls.begin(), controls.end(),
                                      [](const RowControl& c) { return c.id == HS_IDENT_LED; });
    ASSERT_NE(uid_led, controls.end());
    ASSERT_TRUE(uid_led->checked.has_value());
    const bool was_on = list_->CurrentSubEnc()->indicators & kIndicatorUidLed;
    EXPECT_EQ(*uid_led->checked, was_on);

    list_->setFocus();
    QTest::keyClick(list_.get(), Qt::Key_Home);
    QTest::keyClick(list_.get(), Qt::Key_Down);
    ASSERT_EQ(list_->CurrentRow(), 1);
    for (auto c = controls.begin(); c <= uid_led; ++c)
        QTest::keyClick(list_.get(), Qt::Key_Right);
    EXPECT_EQ(list_->CurrentControl(), int(uid_led - controls.begin()));
    QTest::keyClick(list_.get(), Qt::Key_Space);
    QTRY_COMPARE(bool(list_->CurrentSubEnc()->indicators & kIndicatorUidLed), !was_on);
    QTest::keyClick(list_.get(), Qt::Key_Down);  // another row: the ring leaves the control
    EXPECT_EQ(list_->CurrentControl(), -1);
}

TEST_F(ElemListBoxTest, ScreenReadersReadEachRowsText) {
    Open24();
    const int fans = Header(kTypeCooling);
    list_->ToggleGroup(fans);
    QAccessibleInterface* view = QAccessible::queryAccessibleInterface(list_.get());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->role(), QAccessible::List);
    ASSERT_EQ(view->childCount(), list_->RowCount());
    QAccessibleInterface* header = view->child(fans);
    EXPECT_EQ(header->text(QAccessible::Name), "Cooling Device");
    EXPECT_TRUE(header->state().expanded);
    EXPECT_EQ(view->indexOfChild(header), fans);
    // An element row: its name and its latest reading with the unit.
    const QString fan = view->child(fans + 1)->text(QAccessible::Name);
    EXPECT_TRUE(fan.startsWith("Cooling Device 1:")) << fan.toStdString();
    EXPECT_TRUE(fan.endsWith(" RPM")) << fan.toStdString();
    list_->ToggleGroup(fans);
    EXPECT_EQ(view->childCount(), list_->RowCount());
    EXPECT_FALSE(view->child(list_->RowCount()));

    // A slot row says the number the enclosure gives it, the one ident
    // takes: the first slot in the list is SES slot 0.
    const int slot_header = Header(kTypeArrayDeviceSlot);
    list_->ToggleGroup(slot_header);
    const QString slot = view->child(slot_header + 1)->text(QAccessible::Name);
    EXPECT_TRUE(slot.startsWith("Device Slot 1: SES slot 0 ")) << slot.toStdString();
    EXPECT_TRUE(view->child(slot_header + 3)->text(QAccessible::Name).contains("SES slot 2"));
}

TEST_F(ElemListBoxTest, ScreenReadersFindThePanelsControlsAndPressTheUidLedSwitch) {
    Open24();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] { manager_->Poll(); });
    poll.start(5);
    list_->grab();  // the controls are where they were last painted
    QAccessibleInterface* panel = QAccessible::queryAccessibleInterface(list_.get())->child(1);
    ASSERT_NE(panel, nullptr);
    const auto upgrade_disabled = [&] {
        for (int i = 0; i < panel->childCount(); ++i) {
            if (panel->child(i)->text(QAccessible::Name) == "Upgrade")
                return std::optional<bool>(panel->child(i)->state().disabled);
        }
        return std::optional<bool>();
    };
    EXPECT_EQ(upgrade_disabled(), true);  // there, but it wants a package
    list_->SetFirmwarePath("/srv/firmware/jbod-2.0.9.hfw");
    list_->grab();
    EXPECT_EQ(upgrade_disabled(), false);
    std::map<QString, QAccessibleInterface*> controls;
    for (int i = 0; i < panel->childCount(); ++i)
        controls[panel->child(i)->text(QAccessible::Name)] = panel->child(i);
    for (const char* name : {"Change", "Upgrade", "Restart", "Shutdown"}) {
        ASSERT_TRUE(controls.count(name)) << name;
        EXPECT_EQ(controls[name]->role(), QAccessible::Button);
        EXPECT_FALSE(controls[name]->rect().isEmpty());
    }
    EXPECT_EQ(panel->child(0)->parent()->text(QAccessible::Name), panel->text(QAccessible::Name));

    QAccessibleInterface* uid_led = nullptr;
    for (const auto& [name, control] : controls) {
        if (control->role() == QAccessible::CheckBox && name.contains("identification"))
            uid_led = control;
    }
    ASSERT_NE(uid_led, nullptr);
    const bool was_on = list_->CurrentSubEnc()->indicators & kIndicatorUidLed;
    uid_led->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTRY_COMPARE(bool(list_->CurrentSubEnc()->indicators & kIndicatorUidLed), !was_on);
}

TEST_F(ElemListBoxTest, TheOverviewKeepsItsHeaderAndDropsEnclosuresThatAreGone) {
    Open24();
    list_->ShowSubEnc(nullptr);
    ASSERT_EQ(list_->RowCount(), 2);  // the column header and the enclosure
    EXPECT_EQ(list_->Row(0)->subenc.get(), nullptr);
    bool opened = false;
    QObject::connect(list_.get(), &CElemListBox::OpenSubEnc,
                     [&](CSubEnc* s) { opened = s != nullptr; });
    Click(QPoint(20, list_->RowRect(1).center().y()));
    EXPECT_TRUE(opened);

    manager_->registry().Remove(manager_->domain());
    list_->BuildOverviewRows();
    EXPECT_EQ(list_->RowCount(), 1);
    EXPECT_EQ(list_->Row(0)->subenc.get(), nullptr);
}

TEST_F(ElemListBoxTest, TheDashboardCountsFollowTheModelWithinASecond) {
    Open(Jbod24With(90, sim::EventAction::kPowerSupplyFail, kTypePowerSupply, 1), 0);
    list_->ShowSubEnc(nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(list_.get()));
    CSubEnc* subenc = list_->Row(1)->subenc.get();
    const SubEncSummary before = SubEncInfo(subenc);
    const auto expected = [&](const SubEncSummary& info, const char* title, uint8_t type) {
        const TypeCounter& c = info.counters[type];
        return QString("%1 %2(%3)")
            .arg(title, c.failed ? "Fault" : "OK")
            .arg(c.failed ? c.failed : c.count);
    };
    const QString text = list_->RowText(1);
    EXPECT_TRUE(text.startsWith(QString::fromStdU16String(EnclosureDisplayName(before)) + ": "));
    for (auto [title, type] :
         {std::pair("Device Slot", kTypeArrayDeviceSlot),
          std::pair("Power Supply", kTypePowerSupply), std::pair("Cooling Device", kTypeCooling),
          std::pair("Temperature Sensor", kTypeTemperature),
          std::pair("Voltage Sensor", kTypeVoltage)}) {
        EXPECT_TRUE(text.contains(expected(before, title, type)))
            << text.toStdString() << " / " << title;
    }
    EXPECT_EQ(list_->RefreshPass(), 0);  // nothing changed

    list_->TakePaintedRows();
    manager_->Advance(120);  // the power supply fails and the next full read finds it
    ASSERT_EQ(SubEncInfo(subenc).counters[kTypePowerSupply].failed, 1);
    EXPECT_EQ(list_->RefreshPass(), 1);
    EXPECT_TRUE(list_->TakePaintedRows().count(1));
    EXPECT_TRUE(list_->RowText(1).contains("Power Supply Fault(1)"))
        << list_->RowText(1).toStdString();
}

// A sensor past its critical threshold says "critical" without its FAIL
// bit: it is a fault all the same, on the dashboard, in its group's badge and
// in its chart, whose band holds both the reading and the limits.
TEST_F(ElemListBoxTest, ASensorPastItsThresholdsIsAFaultOrAWarningEverywhereItShows) {
    sim::Scenario scenario = Jbod24With(90, sim::EventAction::kTemperature, kTypeTemperature, 0);
    scenario.events.back().value = 85;  // high critical 70
    sim::EventSpec warm = scenario.events.back();
    warm.element = 1;
    warm.value = 65;  // high warning 60
    scenario.events.push_back(warm);
    Open(scenario, 0);
    std::vector<Ref<CSubEnc>> subencs = CollectSubEnclosures(manager_->domain());
    CSubEnc* subenc = subencs.front().get();  // the list keeps it alive
    const int temperatures = Header(kTypeTemperature);
    ASSERT_GE(temperatures, 0);
    list_->ToggleGroup(temperatures);
    manager_->Advance(120);
    list_->RefreshPass();

    CItemData* hot = list_->Row(temperatures + 1);
    CItemData* warm_row = list_->Row(temperatures + 2);
    ASSERT_TRUE(hot->element && warm_row->element);
    EXPECT_EQ(ElementCondition(*hot->element), Condition::kFault);
    EXPECT_EQ(ElementCondition(*warm_row->element), Condition::kWarning);
    EXPECT_FALSE(hot->element->state & kStateFailed);  // the FAIL bit alone would miss it
    EXPECT_EQ(SubEncInfo(subenc).counters[kTypeTemperature].failed, 1);
    EXPECT_EQ(list_->Row(temperatures)->group_count, 1);
    EXPECT_TRUE(hot->flags & ROW_FAILED);
    EXPECT_FALSE(warm_row->flags & ROW_FAILED);
    for (int value : {85, 70, 60, 5, 0})
        EXPECT_TRUE(hot->chart.geometry.Shows(value)) << value;

    list_->ShowSubEnc(nullptr);
    EXPECT_TRUE(list_->RowText(1).contains("Temperature Sensor Fault(1)"))
        << list_->RowText(1).toStdString();
}

TEST_F(ElemListBoxTest, OnlyTheDashboardsNameCellIsHotAndNarrowColumnsKeepTheirWidth) {
    Open24();
    list_->ShowSubEnc(nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(list_.get()));
    const QRect row = list_->RowRect(1);
    const OverviewLayout& wide = list_->Overview();
    const int name_width = wide.widths[kOverviewNameColumn];
    // On a window system the pointer's move arrives later: wait for it.
    QTest::mouseMove(list_.get(), QPoint(name_width - 4, row.center().y()));
    EXPECT_TRUE(WaitUntil([&] { return list_->cursor().shape() == Qt::PointingHandCursor; }));
    EXPECT_EQ(HitSpot(list_->HitTest({name_width - 4, row.center().y()})), HS_ROW);
    QTest::mouseMove(list_.get(), QPoint(name_width + 4, row.center().y()));
    EXPECT_TRUE(WaitUntil([&] { return list_->cursor().shape() == Qt::ArrowCursor; }));
    EXPECT_EQ(HitSpot(list_->HitTest({name_width + 4, row.center().y()})), HS_NONE);
    EXPECT_EQ(HitSpot(list_->HitTest({name_width - 4, list_->RowRect(0).center().y()})), HS_NONE);

    // Wide: the leftover is spread, so the columns fill the list to within
    // the rounding. Narrow: the titles wrap and nothing is added.
    const int list_width = list_->width();  // two rows: no scroll bar
    int sum = 0;
    for (int w : wide.widths)
        sum += w;
    EXPECT_LE(sum, list_width);
    EXPECT_GT(sum, list_width - kOverviewColumnCount);
    list_->resize(360, 600);
    const OverviewLayout& narrow = list_->Overview();
    sum = 0;
    for (int w : narrow.widths)
        sum += w;
    EXPECT_GT(sum, 360);
}

}  // namespace
}  // namespace halvorin
