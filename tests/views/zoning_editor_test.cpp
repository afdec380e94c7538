// The zoning editor over a real model: the cells' layout, edits applied,
// read back and undone, the slots beyond the zone table, leaving with edits,
// and the keyboard and screen readers on the cells and the head's buttons.
#include <QAccessible>
#include <QTest>

#include "enclosure/model/element_types.h"
#include "enclosure/model/zone_bits.h"
#include "tests/views/enclosure_actions_fixture.h"
#include "views/zoning_layout.h"

namespace halvorin {
namespace {

using test::Answer;
using test::AnswerNextBox;
using test::EnclosureActionsTest;

TEST(ZoningLayout, BlocksLinesAndCellsFitTheBand) {
    const struct {
        int slot_count, band, block;
    } cases[] = {{24, 1200, 6}, {16, 1200, 8}, {7, 1200, 5},
                 {84, 1100, 6}, {84, 300, 6},  {10, 5, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.slot_count);
        const ZoningLayout layout = LayOutZoneCells(c.slot_count, c.band);
        EXPECT_EQ(layout.cells_per_block, c.block);
        EXPECT_GE(layout.cells_per_line, c.block);
        EXPECT_LE(layout.cell_width, 24);
        EXPECT_EQ(layout.cell_height, 54 + 3 * (layout.cell_width - 18));
        // Every slot has a cell, found again at its centre; nothing after the last.
        for (int k = 0; k < c.slot_count; ++k)
            EXPECT_EQ(layout.CellAt(layout.CellRect(k).center()), k);
        EXPECT_TRUE(layout.CellRect(c.slot_count).isEmpty());
        EXPECT_GE(layout.row_height, layout.CellRect(c.slot_count - 1).bottom() + 1)
            << "no slot is cut off";
    }
    // A narrow band still lays out one block per line.
    EXPECT_EQ(LayOutZoneCells(24, 5).cells_per_line, 6);
    // The gap after the 7 slots' last cell is empty; no slots, no cells.
    const ZoningLayout seven = LayOutZoneCells(7, 1200);
    EXPECT_EQ(seven.CellAt(seven.CellRect(6).center() + QPoint(seven.cell_width * 3 / 2, 0)), -1);
    const ZoningLayout none = LayOutZoneCells(0, 1200);
    EXPECT_EQ(none.lines, 0);
    EXPECT_EQ(none.CellAt(QPoint(170, 20)), -1);
    EXPECT_LE(LayOutZoneCells(24, 1200).row_height, 255);
}

TEST_F(EnclosureActionsTest, ZoningEditedOnTheGridIsAppliedReadBackAndUndone) {
    Open("jbod24.json");
    list_->ToggleGroup(Header(kTypeZoneEntry));
    list_->repaint();
    const std::vector<int> ports = ZoneRows();
    ASSERT_GE(ports.size(), 2u);
    const auto before = Sim().zones;
    // Apply and Undo are inert until a cell was clicked.
    const int head = ports.front() - 1;
    EXPECT_EQ(HitSpot(list_->HitTest(list_->ZoningButtonRect(head, HS_ZONING_APPLY).center())),
              HS_NONE);
    ClickCell(ports[0], 1);
    ClickCell(ports[1], 20);
    EXPECT_EQ(list_->PendingChanges(), CElemListBox::kZoningEdited);
    const bool port1_slot2 = ZoneHasSlot(before[0], 1);
    QTest::mouseClick(list_.get(), Qt::LeftButton, {},
                      list_->ZoningButtonRect(head, HS_ZONING_APPLY).center());
    auto zones = Sim().zones;
    EXPECT_EQ(ZoneHasSlot(zones[0], 1), !port1_slot2);
    EXPECT_EQ(ZoneHasSlot(zones[1], 20), !ZoneHasSlot(before[1], 20));
    EXPECT_EQ(zones[2], before[2]);
    EXPECT_EQ(list_->PendingChanges(), 0);
    EXPECT_TRUE(Logged(309));

    // Read back: the rows show what the enclosure has.
    Minutes(1);
    EXPECT_EQ(bool(list_->Row(ports[0])->zone_edit[1]), !port1_slot2);
    // An edit undone goes back to what was read, with no write.
    ClickCell(ports[0], 5);
    QTest::mouseClick(list_.get(), Qt::LeftButton, {},
                      list_->ZoningButtonRect(head, HS_ZONING_UNDO).center());
    EXPECT_EQ(bool(list_->Row(ports[0])->zone_edit[5]), ZoneHasSlot(zones[0], 5));
    EXPECT_EQ(list_->PendingChanges(), 0);
    EXPECT_EQ(Sim().zones, zones);
    EXPECT_TRUE(Logged(310));
}

TEST_F(EnclosureActionsTest, EditsOfACollapsedZoningGroupAreAppliedWhenLeavingAndAnsweringNo) {
    Open("jbod24.json");
    const int header = Header(kTypeZoneEntry);
    list_->ToggleGroup(header);
    list_->repaint();
    const std::vector<int> ports = ZoneRows();
    ASSERT_FALSE(ports.empty());
    const auto before = Sim().zones;
    ClickCell(ports[0], 3);
    list_->ToggleGroup(header);      // collapsed: the edit stays
    AnswerNextBox(Answer::kSecond);  // "exit without applying?" No: apply first
    list_->ShowSubEnc(nullptr);
    EXPECT_EQ(ZoneHasSlot(Sim().zones[0], 3), !ZoneHasSlot(before[0], 3));
    EXPECT_EQ(list_->CurrentSubEnc(), nullptr);
}

TEST_F(EnclosureActionsTest, SlotsBeyondTheZoneTableAreShownButCannotBeClicked) {
    Open("jbod84-dual-path.json");
    list_->ToggleGroup(Header(kTypeZoneEntry));
    list_->repaint();
    const std::vector<int> ports = ZoneRows();
    ASSERT_FALSE(ports.empty());
    EXPECT_EQ(list_->Zoning().slot_count, 84);
    const QRect cell80 = list_->ZoneCellRect(ports[0], 80);  // slot 81
    ASSERT_FALSE(cell80.isEmpty());
    EXPECT_EQ(list_->HitTest(cell80.center()) & kClickable, 0u);
    const auto edit = list_->Row(ports[0])->zone_edit;
    QTest::mouseClick(list_.get(), Qt::LeftButton, {}, cell80.center());
    EXPECT_EQ(list_->Row(ports[0])->zone_edit, edit);
    EXPECT_EQ(list_->PendingChanges(), 0);
    const QRect cell79 = list_->ZoneCellRect(ports[0], 79);
    EXPECT_EQ(list_->ToolTipText(list_->HitTest(cell79.center())), "Slot 80");
    EXPECT_EQ(list_->ToolTipText(list_->HitTest(cell80.center())),
              "Beyond the 80 slots the zone table holds");
}

// Leaving with edits asks first: Cancel keeps the enclosure and its edits,
// Yes drops them.
TEST_F(EnclosureActionsTest, LeavingWithZoningEditsCanBeCancelled) {
    Open("jbod24.json");
    list_->ToggleGroup(Header(kTypeZoneEntry));
    list_->repaint();
    const std::vector<int> ports = ZoneRows();
    ASSERT_FALSE(ports.empty());
    EXPECT_TRUE(list_->MayLeave());  // nothing edited: nothing asked
    ClickCell(ports[0], 3);
    const auto edited = list_->Row(ports[0])->zone_edit;
    const auto before = Sim().zones;
    AnswerNextBox(Answer::kThird);
    EXPECT_FALSE(list_->MayLeave());
    EXPECT_EQ(list_->PendingChanges(), CElemListBox::kZoningEdited);
    EXPECT_EQ(list_->Row(ports[0])->zone_edit, edited);
    AnswerNextBox(Answer::kFirst);
    EXPECT_TRUE(list_->MayLeave());
    EXPECT_EQ(list_->PendingChanges(), 0);
    EXPECT_EQ(Sim().zones, before);
}

// Without a mouse: Right walks from a port's row onto its cells and Space
// flips one; on the head Undo and Apply are inert until there is an edit,
// then Apply writes it as a click would. Screen readers see each cell as a
// check box, and the cells beyond the table as disabled, saying why.
TEST_F(EnclosureActionsTest, TheKeyboardReachesTheCellsAndTheHeadsButtons) {
    Open("jbod84-dual-path.json");
    list_->ToggleGroup(Header(kTypeZoneEntry));
    list_->repaint();
    const std::vector<int> ports = ZoneRows();
    ASSERT_FALSE(ports.empty());
    const int head = ports.front() - 1;
    const auto before = Sim().zones;
    list_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(list_.get()));
    list_->setFocus();
    list_->SetCurrentRow(head);
    QTest::keyClick(list_.get(), Qt::Key_Right);
    EXPECT_EQ(list_->CurrentControl(), 0);  // Undo
    QTest::keyClick(list_.get(), Qt::Key_Space);
    EXPECT_EQ(list_->PendingChanges(), 0);

    QTest::keyClick(list_.get(), Qt::Key_Down);
    ASSERT_EQ(list_->CurrentRow(), ports[0]);
    EXPECT_EQ(list_->CurrentControl(), -1);
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(list_.get(), Qt::Key_Right);
    EXPECT_EQ(list_->CurrentControl(), 2);  // slot 3
    QTest::keyClick(list_.get(), Qt::Key_Space);
    EXPECT_EQ(bool(list_->Row(ports[0])->zone_edit[2]), !ZoneHasSlot(before[0], 2));
    EXPECT_EQ(list_->PendingChanges(), CElemListBox::kZoningEdited);

    QAccessibleInterface* row = QAccessible::queryAccessibleInterface(list_.get())->child(ports[0]);
    ASSERT_EQ(row->childCount(), 84);
    QAccessibleInterface* slot3 = row->child(2);
    EXPECT_EQ(slot3->role(), QAccessible::CheckBox);
    EXPECT_EQ(slot3->text(QAccessible::Name), "Slot 3");
    EXPECT_TRUE(slot3->state().focused);
    EXPECT_EQ(bool(slot3->state().checked), !ZoneHasSlot(before[0], 2));
    QAccessibleInterface* slot81 = row->child(80);
    EXPECT_TRUE(slot81->state().disabled);
    EXPECT_EQ(slot81->text(QAccessible::Description), "Beyond the 80 slots the zone table holds");

    QTest::keyClick(list_.get(), Qt::Key_Up);
    EXPECT_EQ(list_->CurrentControl(), -1);
    QTest::keyClick(list_.get(), Qt::Key_Right);
    QTest::keyClick(list_.get(), Qt::Key_Right);
    QTest::keyClick(list_.get(), Qt::Key_Right);  // stays on the last control
    EXPECT_EQ(list_->CurrentControl(), 1);        // Apply
    QTest::keyClick(list_.get(), Qt::Key_Return);
    EXPECT_EQ(ZoneHasSlot(Sim().zones[0], 2), !ZoneHasSlot(before[0], 2));
    EXPECT_EQ(list_->PendingChanges(), 0);
    EXPECT_TRUE(Logged(309));
}

}  // namespace
}  // namespace halvorin
