#include <QScrollBar>
#include <QTest>
#include <QTreeWidget>

#include "shell/widgets/list_box_scroll_bar.h"
#include "shell/widgets/tree_ctrl_scroll_bar.h"
#include "tests/support/desktop_fixture.h"

namespace halvorin {
namespace {

TEST(ThumbPlace, ThumbsThatWouldFillOrHaveNoTrackHideTheBar) {
    EXPECT_FALSE(PlaceThumb(0, 0, 100, 0, 10, false).shown);
    EXPECT_FALSE(PlaceThumb(-5, 25, 100, 0, 10, false).shown);
    EXPECT_FALSE(PlaceThumb(100, 100 * 100, 100, 0, 10, false).shown);  // content fits exactly
    EXPECT_FALSE(PlaceThumb(100, 100 * 100, 0, 0, 10, false).shown);    // no content
    const ThumbPlace tiny = PlaceThumb(300, 300 * 300, 1'000'000, 5, 5000, false);
    EXPECT_TRUE(tiny.shown);
    EXPECT_EQ(tiny.height, CFlatSB::kMinThumb);
    const ThumbPlace end = PlaceThumb(300, 300 * 300, 900, 40, 50, true);
    EXPECT_EQ(end.top + end.height, 300);
}

// A plain list of rows for the bar to scroll.
class RowList : public QWidget, public FlatScrollList {
  public:
    RowList() : bar(this, *this) { resize(200, 300); }
    int RowCount() const override { return int(heights.size()); }
    int RowHeight(int row) const override { return heights.at(size_t(row)); }
    int TopRow() const override { return top; }
    void SetTopRow(int row) override { top = row; }
    void ReserveBarWidth(int width) override { reserved = width; }
    void WheelOnBar(QWheelEvent*) override { ++wheels; }

    std::vector<int> heights;
    int top = 0;
    int reserved = 0;
    int wheels = 0;
    CListBoxSB bar;
};

using test::WaitUntil;
class FlatScrollBarTest : public test::DesktopTest {};

TEST_F(FlatScrollBarTest, AListThatFitsShowsNoBarAndLosesNoWidth) {
    RowList list;
    list.show();
    list.heights = {100, 100, 100};
    list.bar.ContentChanged();
    EXPECT_FALSE(list.bar.shown());
    EXPECT_EQ(list.reserved, 0);
    list.heights.push_back(40);
    list.bar.ContentChanged();
    EXPECT_TRUE(list.bar.shown());
    EXPECT_EQ(list.reserved, CFlatSB::kWidth);
    EXPECT_EQ(list.bar.geometry(), QRect(190, 0, 10, 300));
    // Deleting rows until everything fits hides the bar and gives the width back.
    list.heights = {50};
    list.bar.ContentChanged();
    EXPECT_FALSE(list.bar.shown());
    EXPECT_EQ(list.reserved, 0);
    list.heights.clear();
    list.bar.ContentChanged();
    EXPECT_FALSE(list.bar.shown());
}

TEST_F(FlatScrollBarTest, LongListsKeepAUsableThumbThatTouchesTheBottomOnTheLastPage) {
    RowList list;
    list.show();
    list.heights.assign(5000, 30);
    list.bar.ContentChanged();
    ASSERT_TRUE(list.bar.shown());
    EXPECT_EQ(list.bar.thumb().height(), CFlatSB::kMinThumb);
    EXPECT_EQ(list.bar.thumb().top(), 0);
    list.top = list.bar.LastTopRow();
    EXPECT_EQ(list.top, 5000 - 10);
    list.bar.Recompute();
    EXPECT_EQ(list.bar.thumb().bottom() + 1, 300);
}

TEST_F(FlatScrollBarTest, DraggingTheThumbScrollsByWholeRowsAndStopsAtTheEnds) {
    RowList list;
    list.show();
    list.heights.assign(40, 50);  // 2000 px in a 300-px track
    list.bar.ContentChanged();
    ASSERT_TRUE(list.bar.shown());
    const QPoint grip = list.bar.thumb().center();
    QTest::mousePress(&list.bar, Qt::LeftButton, {}, grip);
    EXPECT_TRUE(list.bar.dragging());
    QTest::mouseMove(&list.bar, grip + QPoint(0, 60));
    EXPECT_GT(list.top, 0);
    const int middle = list.top;
    QTest::mouseMove(&list.bar, grip + QPoint(0, 1000));  // beyond the track
    EXPECT_EQ(list.top, list.bar.LastTopRow());
    EXPECT_GT(list.top, middle);
    QTest::mouseMove(&list.bar, grip + QPoint(0, -1000));
    EXPECT_EQ(list.top, 0);
    QTest::mouseRelease(&list.bar, Qt::LeftButton, {}, grip);
    EXPECT_FALSE(list.bar.dragging());
    list.bar.LineDown();
    EXPECT_EQ(list.top, 1);
    list.bar.LineUp();
    list.bar.LineUp();
    EXPECT_EQ(list.top, 0);
}

// A tree that gives the bar its room the way the enclosure tree will.
class RoomyTree : public QTreeWidget {
  public:
    void Reserve(int width) { setViewportMargins(0, 0, width, 0); }
    int RightMargin() const { return viewportMargins().right(); }
};

TEST_F(FlatScrollBarTest, TheTreeBarFollowsTheTreesRangeAndDragsItsFirstVisibleItem) {
    RoomyTree tree;
    tree.resize(200, 300);
    CTreeCtrlSB bar(&tree, [&](int width) { tree.Reserve(width); });
    tree.show();
    for (int i = 0; i < 3; ++i)
        tree.addTopLevelItem(new QTreeWidgetItem({QString::number(i)}));
    QApplication::processEvents();
    EXPECT_FALSE(bar.shown());
    for (int i = 3; i < 200; ++i)
        tree.addTopLevelItem(new QTreeWidgetItem({QString::number(i)}));
    EXPECT_TRUE(WaitUntil([&] { return bar.shown(); }));
    EXPECT_EQ(tree.RightMargin(), CFlatSB::kWidth);
    EXPECT_FALSE(tree.verticalScrollBar()->isVisible());
    const QPoint grip = bar.thumb().center();
    QTest::mousePress(&bar, Qt::LeftButton, {}, grip);
    QTest::mouseMove(&bar, grip + QPoint(0, 100));
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, grip + QPoint(0, 100));
    EXPECT_GT(tree.verticalScrollBar()->value(), 0);
    tree.clear();
    EXPECT_TRUE(WaitUntil([&] { return !bar.shown(); }));
    EXPECT_EQ(tree.RightMargin(), 0);
}

}  // namespace
}  // namespace halvorin
