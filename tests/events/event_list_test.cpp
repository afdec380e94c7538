// The event list on its own: rows, the cap, trimming, suspended painting
// and editing, on a clock the test moves.
#include "shell/events/event_list.h"

#include <QAccessible>
#include <QTest>

#include "tests/support/desktop_fixture.h"

namespace halvorin {
namespace {

using Position = CEventList::Position;
constexpr int kMessage = 20007;  // "%s of %s has failed."
constexpr int kText = 19999;     // "%s"

class EventListTest : public test::DesktopTest {
  protected:
    void SetUp() override {
        DesktopTest::SetUp();
        UseApplicationLook();
        list_ = std::make_unique<CEventList>(clock_);
        list_->resize(420, 600);
        list_->show();
    }
    void TearDown() override {
        list_.reset();
        DesktopTest::TearDown();
    }

    int Add(const QString& text, Position position = Position::kBottom, int level = 0) {
        return list_->AddEvent(clock_.NowSeconds(), level, "JBOD-1", kText, {text}, position);
    }

    QString TextAt(int row) const {
        const CEventItem* item = list_->Item(row);
        return item ? item->text : QString("<spacer>");
    }

    void Click(QPoint at) { QTest::mouseClick(list_.get(), Qt::LeftButton, {}, at); }

    ManualClock clock_;
    std::unique_ptr<CEventList> list_;
};

TEST_F(EventListTest, MessagesAreFormattedAndTheirFirstLetterUpperCased) {
    struct Case {
        int message;
        QStringList arguments;
        QString shown;
    } cases[] = {
        {kMessage,
         {"power supply 2", "power supply"},
         "Power supply 2 of power supply has failed."},
        {kText, {"élément chaud"}, "Élément chaud"},
        {20023, {"rack-7"}, "System name was changed to rack-7."},
        {kText, {}, ""},
        {424242, {"no such message"}, ""},  // an id without a text still adds a row
    };
    for (const Case& c : cases) {
        const int row = list_->AddEvent(1, 2, "JBOD-1", c.message, c.arguments, Position::kBottom);
        ASSERT_GE(row, 0);
        EXPECT_EQ(list_->Item(row)->text, c.shown) << c.message;
        EXPECT_EQ(list_->Item(row)->level, 2);
    }
    // Appended rows go below the spacer row the list starts with.
    EXPECT_EQ(TextAt(0), "<spacer>");
    EXPECT_EQ(list_->RowHeight(0), 0);
}

TEST_F(EventListTest, TopInsertionsStayAboveLiveEventsAndKeepTheVisibleRowInPlace) {
    Add("live 1");
    Add("live 2");
    EXPECT_EQ(Add("old 2", Position::kTop), 0);
    EXPECT_EQ(Add("old 1", Position::kTop), 0);
    EXPECT_EQ(list_->TopRow(), 2);  // the spacer is still the first row shown
    EXPECT_TRUE(list_->RedrawSuspended());
    std::vector<QString> texts;
    for (int i = 0; i < list_->RowCount(); ++i)
        texts.push_back(TextAt(i));
    EXPECT_EQ(texts, (std::vector<QString>{"Old 1", "Old 2", "<spacer>", "Live 1", "Live 2"}));

    // A second later the tick shows the burst; an append would have at once.
    clock_.AdvanceMs(999);
    list_->OneSecondTick();
    EXPECT_TRUE(list_->RedrawSuspended());
    clock_.AdvanceMs(1);
    list_->OneSecondTick();
    EXPECT_FALSE(list_->RedrawSuspended());
    Add("old 0", Position::kTop);
    Add("live 3");
    EXPECT_FALSE(list_->RedrawSuspended());
}

// At its newest row the list follows what comes; scrolled back, it keeps the
// operator's place and says how many came below, and the marker takes them
// there. A taller pane brings back rows scrolled out above.
TEST_F(EventListTest, NewEventsAreFollowedAtTheEndAndCountedWhenScrolledBack) {
    const auto settle = [] { QCoreApplication::processEvents(); };
    for (int i = 0; i < 40; ++i)
        Add(QString("event %1").arg(i));
    settle();
    ASSERT_GT(list_->TopRow(), 0);
    Add("event 40");
    settle();
    EXPECT_FALSE(list_->RowRect(list_->RowCount() - 1).isEmpty());  // followed to the newest
    EXPECT_EQ(list_->UnseenEvents(), 0);

    list_->SetTopRow(0);
    Add("event 41");
    Add("event 42");
    settle();
    EXPECT_EQ(list_->TopRow(), 0);  // the operator's place is kept
    EXPECT_EQ(list_->UnseenEvents(), 2);
    const QRect marker = list_->NewEventsMarker();
    ASSERT_FALSE(marker.isEmpty());
    Click(marker.center());
    settle();
    EXPECT_FALSE(list_->RowRect(list_->RowCount() - 1).isEmpty());
    EXPECT_EQ(list_->UnseenEvents(), 0);
    EXPECT_TRUE(list_->NewEventsMarker().isEmpty());

    // Three events in a short pane, scrolled to the last; the pane grows.
    list_ = std::make_unique<CEventList>(clock_);
    list_->resize(420, list_->ItemRowHeight() + 10);
    list_->show();
    for (int i = 0; i < 3; ++i)
        Add(QString("event %1").arg(i));
    settle();
    const int last = list_->RowCount() - 1;
    list_->SetTopRow(last);
    list_->resize(420, 5 * list_->ItemRowHeight());
    settle();
    for (int row = last - 2; row <= last; ++row)
        EXPECT_FALSE(list_->RowRect(row).isEmpty()) << row;
}

TEST_F(EventListTest, AFullListRefusesTopInsertionsAndAppendsPushTheOldestOut) {
    while (list_->RowCount() < CEventList::kMaxRows)
        ASSERT_EQ(Add(QString::number(list_->RowCount()), Position::kTop), 0);
    EXPECT_EQ(Add("refused", Position::kTop), -1);
    EXPECT_EQ(list_->RowCount(), CEventList::kMaxRows);

    // Within two seconds of the last trim an append neither trims nor scrolls.
    const int top = list_->TopRow();
    EXPECT_EQ(Add("first live"), CEventList::kMaxRows);
    EXPECT_EQ(list_->RowCount(), CEventList::kMaxRows + 1);
    EXPECT_EQ(list_->TopRow(), top);

    // Two seconds on, the next append trims the oldest row and shows the newest.
    clock_.AdvanceSeconds(2);
    const QString oldest = TextAt(0);
    const int row = Add("second live");
    EXPECT_EQ(list_->RowCount(), CEventList::kMaxRows);
    EXPECT_EQ(row, CEventList::kMaxRows - 1);
    EXPECT_EQ(TextAt(row), "Second live");
    EXPECT_NE(TextAt(0), oldest);
    QApplication::processEvents();
    EXPECT_EQ(list_->TopRow(), list_->ScrollBar().LastTopRow());

    // The tick trims too, without moving the operator's place.
    Add("third live");
    clock_.AdvanceSeconds(2);
    const QString shown = TextAt(list_->TopRow() - 1);
    list_->OneSecondTick();
    EXPECT_EQ(list_->RowCount(), CEventList::kMaxRows);
    EXPECT_EQ(TextAt(list_->TopRow() - 1), shown);
}

TEST_F(EventListTest, EditingArmsARowAndItsDeleteZoneDeletesIt) {
    for (int i = 1; i <= 3; ++i)
        Add(QString("event %1").arg(i), Position::kBottom, i - 1);
    // Outside editing mode a click does nothing.
    Click(list_->ArmZone(1).center());
    EXPECT_EQ(list_->ArmedRow(), -1);

    ASSERT_TRUE(list_->OnCommand(CEventList::kEditCommand));
    Click(list_->ArmZone(2).center());
    EXPECT_EQ(list_->ArmedRow(), 2);
    // Arming another row disarms the first; a click elsewhere disarms.
    Click(list_->ArmZone(1).center());
    EXPECT_EQ(list_->ArmedRow(), 1);
    Click(list_->RowRect(1).center());
    EXPECT_EQ(list_->ArmedRow(), -1);

    Click(list_->ArmZone(2).center());
    QTest::mouseMove(list_.get(), list_->DeleteZone(2).center());
    EXPECT_EQ(list_->ZoneAt(list_->DeleteZone(2).center()), CEventList::kDeleteZone);
    EXPECT_TRUE(
        test::WaitUntil([&] { return list_->cursor().shape() == Qt::PointingHandCursor; }, 2000));
    Click(list_->DeleteZone(2).center());
    EXPECT_EQ(list_->RowCount(), 3);
    EXPECT_EQ(TextAt(1), "Event 1");
    EXPECT_EQ(TextAt(2), "Event 3");
    EXPECT_EQ(list_->ArmedRow(), -1);

    Click(list_->ArmZone(1).center());
    ASSERT_TRUE(list_->OnCommand(CEventList::kExitEditCommand));
    EXPECT_FALSE(list_->Editing());
    EXPECT_EQ(list_->ArmedRow(), -1);
    EXPECT_FALSE(list_->OnCommand(248));
}

TEST_F(EventListTest, TheKeyboardMovesThroughTheRowsReadsThemAndDeletesTheArmedRow) {
    for (int i = 0; i < 40; ++i)
        Add(QString("event %1").arg(i));
    QApplication::processEvents();  // the scroll bar learns of the rows
    const int last = list_->ScrollBar().LastTopRow();
    ASSERT_GT(last, 10);
    list_->setFocus();
    QTest::keyClick(list_.get(), Qt::Key_End);
    EXPECT_EQ(list_->TopRow(), last);
    EXPECT_EQ(list_->CurrentRow(), 40);
    QTest::keyClick(list_.get(), Qt::Key_PageUp);
    EXPECT_LT(list_->CurrentRow(), 40 - 3);
    EXPECT_FALSE(list_->RowRect(list_->CurrentRow()).isEmpty());
    QTest::keyClick(list_.get(), Qt::Key_Home);
    EXPECT_EQ(list_->TopRow(), 0);
    EXPECT_EQ(list_->CurrentRow(), 1);  // the spacer above it shows nothing
    QTest::keyClick(list_.get(), Qt::Key_Down);
    EXPECT_EQ(list_->CurrentRow(), 2);
    EXPECT_EQ(list_->TopRow(), 0);

    // A screen reader reads each row's source, time and message.
    QAccessibleInterface* view = QAccessible::queryAccessibleInterface(list_.get());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->role(), QAccessible::List);
    EXPECT_EQ(view->childCount(), 41);
    const QString read = view->child(2)->text(QAccessible::Name);
    EXPECT_TRUE(read.startsWith("JBOD-1, ")) << read.toStdString();
    EXPECT_TRUE(read.endsWith(": Event 1")) << read.toStdString();
    EXPECT_EQ(view->child(2)->state().focused, list_->hasFocus());  // the window system decides

    // Delete does nothing outside editing mode, and deletes the armed row in it.
    QTest::keyClick(list_.get(), Qt::Key_Delete);
    EXPECT_EQ(list_->RowCount(), 41);
    list_->OnCommand(CEventList::kEditCommand);
    Click(list_->ArmZone(2).center());
    ASSERT_EQ(list_->ArmedRow(), 2);
    const QString armed = TextAt(2);
    QTest::keyClick(list_.get(), Qt::Key_Delete);
    EXPECT_EQ(list_->RowCount(), 40);
    EXPECT_NE(TextAt(2), armed);

    // The keyboard arms its own row with Space, and Delete deletes it.
    list_->SetCurrentRow(3);
    const QString keyed = TextAt(3);
    QTest::keyClick(list_.get(), Qt::Key_Space);
    ASSERT_EQ(list_->ArmedRow(), 3);
    QTest::keyClick(list_.get(), Qt::Key_Delete);
    EXPECT_EQ(list_->RowCount(), 39);
    EXPECT_NE(TextAt(3), keyed);
}

TEST_F(EventListTest, TheTimeShowsTheYearOnlyOutsideTheCurrentYear) {
    const QDateTime now = QDateTime::fromSecsSinceEpoch(clock_.NowSeconds());
    const QDateTime new_year(QDate(now.date().year(), 1, 1), QTime(0, 0));
    const QDateTime last_moment = new_year.addSecs(-1);
    EXPECT_EQ(list_->TimeText(new_year.toSecsSinceEpoch()), "1/1 00:00:00");
    EXPECT_EQ(list_->TimeText(last_moment.toSecsSinceEpoch()),
              QString("%1/12/31 23:59:59").arg(now.date().year() - 1));
}

}  // namespace
}  // namespace halvorin
