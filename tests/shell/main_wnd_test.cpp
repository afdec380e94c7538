// The manager's main window: where it opens, what each point of it is, its
// splitters, its caption bar and main toolbar, and closing while work runs.
#include "shell/frame/main_wnd.h"

#include <QAccessible>
#include <QScreen>
#include <QTest>
#include <algorithm>
#include <map>

#include "enclosure/ops/control_operations.h"
#include "net/ui/caption_bar.h"
#include "net/ui/server_edit_bar.h"
#include "shell/events/event_list.h"
#include "shell/events/event_pane.h"
#include "shell/frame/main_tool_bar.h"
#include "shell/frame/right_pane.h"
#include "shell/frame/right_tool_bar.h"
#include "shell/tree/enc_tree.h"
#include "shell/tree/left_pane.h"
#include "shell/widgets/flat_tool_button.h"
#include "tests/support/desktop_fixture.h"
#include "views/elem_list_box.h"
#include "views/modal_operation.h"

namespace halvorin {
namespace {

using test::WaitUntil;

class MainWndTest : public test::DesktopTest {
  protected:
    void SetUp() override {
        DesktopTest::SetUp();
        UseApplicationLook();
        ManagerSetup nothing_managed;
        nothing_managed.history_directory.clear();
        window_ = std::make_unique<CMainWnd>("Zent Halvorin", nothing_managed);
        window_->setGeometry(100, 100, 1200, 800);
        window_->show();
        SetApplicationWindow(window_.get());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    }
    void TearDown() override {
        SetApplicationWindow(nullptr);
        window_.reset();
        DesktopTest::TearDown();
    }

    std::unique_ptr<CMainWnd> window_;
};

TEST(MainWndPlacement, TwoThirdsOfALargeWorkAreaCentredOtherwiseAllOfIt) {
    EXPECT_EQ(CMainWnd::InitialPlacement({0, 0, 1920, 1040}), QRect(320, 173, 1280, 693));
    EXPECT_EQ(CMainWnd::InitialPlacement({0, 0, 1000, 700}), QRect(0, 0, 1000, 700));
    // Wide but short: centred across, the whole height.
    EXPECT_EQ(CMainWnd::InitialPlacement({0, 0, 1280, 700}), QRect(213, 0, 853, 700));
    EXPECT_EQ(CMainWnd::InitialPlacement({100, 50, 1920, 1040}), QRect(420, 223, 1280, 693));
}

TEST_F(MainWndTest, EveryEdgeCornerCaptionAndSplitterIsFound) {
    const int w = window_->width(), h = window_->height();
    const int caption = window_->CaptionBar()->geometry().center().y();
    const int middle = window_->PaneArea().top() + 5;
    const int x = window_->SplitterX(), y = window_->SplitterY();
    struct Case {
        QPoint at;
        int code;
        int drag;
    } cases[] = {
        {{0, 0}, CMainWnd::kHitTopLeft, CMainWnd::kHitTopLeft},
        {{w / 2, 0}, CMainWnd::kHitTop, CMainWnd::kHitTop},
        {{w - 1, 0}, CMainWnd::kHitTopRight, CMainWnd::kHitTopRight},
        {{0, caption}, CMainWnd::kHitLeft, CMainWnd::kHitLeft},
        {{w / 2, caption}, CMainWnd::kHitCaption, CMainWnd::kNoDrag},
        {{w - 1, caption}, CMainWnd::kHitRight, CMainWnd::kHitRight},
        {{0, middle}, CMainWnd::kHitLeft, CMainWnd::kHitLeft},
        {{w - 1, middle}, CMainWnd::kHitRight, CMainWnd::kHitRight},
        {{x, middle}, CMainWnd::kHitClient, CMainWnd::kVerticalSplitter},
        {{x + 1, middle}, CMainWnd::kHitClient, CMainWnd::kVerticalSplitter},
        {{x + 2, middle}, CMainWnd::kHitClient, CMainWnd::kNoDrag},
        {{x / 2, y}, CMainWnd::kHitClient, CMainWnd::kHorizontalSplitter},
        {{x / 2, y + 1}, CMainWnd::kHitClient, CMainWnd::kHorizontalSplitter},
        {{x / 2, y - 1}, CMainWnd::kHitClient, CMainWnd::kNoDrag},
        {{0, h - 1}, CMainWnd::kHitBottomLeft, CMainWnd::kHitBottomLeft},
        {{w / 2, h - 1}, CMainWnd::kHitBottom, CMainWnd::kHitBottom},
        {{w - 1, h - 1}, CMainWnd::kHitBottomRight, CMainWnd::kHitBottomRight},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(window_->HitTest(c.at), c.code) << c.at.x() << "," << c.at.y();
        EXPECT_EQ(window_->DragKindAt(c.at), c.drag) << c.at.x() << "," << c.at.y();
    }
}

TEST_F(MainWndTest, SplittersDragWithinTheirBoundsAndLayThePanesOut) {
    const QRect area = window_->PaneArea();
    // Dragging the vertical splitter: the bar follows, the panes move on release.
    const int y = area.top() + 50;
    const int from = window_->SplitterX();
    QTest::mousePress(window_.get(), Qt::LeftButton, {}, {from, y});
    QTest::mouseMove(window_.get(), {from + 120, y});
    QTest::mouseRelease(window_.get(), Qt::LeftButton, {}, {from + 120, y});
    EXPECT_EQ(window_->SplitterX(), from + 120);
    EXPECT_EQ(window_->LeftPane()->width(), from + 120 - area.left());
    EXPECT_EQ(window_->RightPane()->x(), from + 122);

    window_->MoveVerticalSplitter(0);
    EXPECT_EQ(window_->SplitterX(), area.left() + window_->LeftPane()->MinimumPaneWidth());
    window_->MoveVerticalSplitter(100000);
    EXPECT_EQ(window_->SplitterX(), window_->width() - 5);
    window_->MoveHorizontalSplitter(0);
    EXPECT_EQ(window_->SplitterY(), area.top());
    window_->MoveHorizontalSplitter(100000);
    EXPECT_EQ(window_->SplitterY(), window_->height() - 5);
    EXPECT_EQ(window_->EventPane()->y(), window_->SplitterY() + 2);
}

TEST_F(MainWndTest, ShrinkingBelowTheHorizontalSplitterPullsItUp) {
    window_->MoveHorizontalSplitter(700);
    window_->resize(1200, 500);
    ASSERT_TRUE(WaitUntil([&] { return window_->height() == 500; }));
    const QRect area = window_->PaneArea();
    EXPECT_EQ(window_->SplitterY(), area.top() + area.height() - 2);
    // A size change that is not a maximise or restore keeps it there.
    window_->resize(1200, 900);
    ASSERT_TRUE(WaitUntil([&] { return window_->height() == 900; }));
    EXPECT_EQ(window_->SplitterY(), area.top() + area.height() - 2);
}

TEST_F(MainWndTest, AMaximiseOrRestoreKeepsTheHorizontalSplittersShareOfTheHeight) {
    const int before = window_->SplitterY();
    // What the window system sends when it maximises: the state, then the size.
    QWindowStateChangeEvent maximised(Qt::WindowNoState);
    QApplication::sendEvent(window_.get(), &maximised);
    window_->resize(1200, 1000);
    ASSERT_TRUE(WaitUntil([&] { return window_->height() == 1000; }));
    EXPECT_EQ(window_->SplitterY(), before * 1000 / 800);
}

TEST_F(MainWndTest, TheCaptionButtonsMaximiseRestoreAndAskBeforeClosing) {
    CCaptionBar* bar = window_->CaptionBar();
    EXPECT_EQ(bar->Title(), "Zent Halvorin");
    CFlatToolButton* middle = bar->Button(1);
    EXPECT_EQ(middle->command(), CCaptionBar::kMaximize);
    EXPECT_EQ(middle->toolTipText(), "Maximize");
    // Maximised by the window system, or by the window itself where there is
    // no window manager to do it (the bare X server of the x11 run).
    const QRect normal = window_->geometry();
    const QRect screen = window_->screen()->availableGeometry();
    QTest::mouseClick(middle, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return window_->geometry() == screen; }))
        << window_->geometry().x() << "," << window_->geometry().y() << " "
        << window_->geometry().width() << "x" << window_->geometry().height();
    EXPECT_EQ(middle->command(), CCaptionBar::kRestore);
    EXPECT_EQ(middle->index(), CCaptionBar::kRestoreImage);
    EXPECT_EQ(middle->toolTipText(), "Restore Down");
    QTest::mouseClick(middle, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return window_->geometry() == normal; }));
    EXPECT_EQ(middle->command(), CCaptionBar::kMaximize);

    // Close asks first; No keeps the window.
    test::AnswerNextBox(test::Answer::kSecond);
    QTest::mouseClick(bar->Button(2), Qt::LeftButton);
    EXPECT_TRUE(window_->isVisible());
}

TEST_F(MainWndTest, TheMainToolBarShowsTheDashboardAndPassesTheApplicationsCommands) {
    CMainToolBar* bar = window_->MainToolBar();
    EXPECT_EQ(bar->height(), CMainToolBar::kHeight);
    EXPECT_EQ(bar->Button(0)->text(), "Dashboard");
    std::vector<int> commands;
    QObject::connect(window_.get(), &CMainWnd::Command, [&](int id) { commands.push_back(id); });
    QTest::mouseClick(bar->Button(0), Qt::LeftButton);
    EXPECT_TRUE(window_->RightPane()->Dashboard());
    EXPECT_EQ(window_->RightPane()->TitleBar()->Title(), "Dashboard");
    EXPECT_FALSE(window_->RightPane()->TitleBar()->QuickJumpButton()->isVisible());
    QTest::mouseClick(bar->Button(1), Qt::LeftButton);
    QTest::mouseClick(bar->Button(2), Qt::LeftButton);
    EXPECT_EQ(commands, (std::vector<int>{252, 57664}));
}

// Every accessible object under `root` with this role, by name.
std::map<QString, QAccessibleInterface*> AccessiblesOfRole(QAccessibleInterface* root,
                                                           QAccessible::Role role) {
    std::map<QString, QAccessibleInterface*> found;
    for (int i = 0; i < root->childCount(); ++i) {
        QAccessibleInterface* child = root->child(i);
        if (!child) continue;
        if (child->role() == role) found[child->text(QAccessible::Name)] = child;
        found.merge(AccessiblesOfRole(child, role));
    }
    return found;
}

TEST_F(MainWndTest, TabVisitsCaptionToolBarEntryTreeEventsAndRightPaneInThatOrder) {
    std::vector<QWidget*> chain;
    QWidget* first = window_->CaptionBar()->Button(0);
    QWidget* next = first;
    do {
        if (next->focusPolicy() & Qt::TabFocus) chain.push_back(next);
        next = next->nextInFocusChain();
    } while (next != first && chain.size() < 100);
    const auto position = [&](QWidget* widget) {
        return std::find(chain.begin(), chain.end(), widget) - chain.begin();
    };
    const std::vector<QWidget*> expected = {
        window_->CaptionBar()->Button(0),  window_->MainToolBar()->Button(0),
        window_->MainToolBar()->Button(2), window_->LeftPane()->EditBar(),
        window_->LeftPane()->Tree(),       window_->EventPane()->List(),
        window_->RightPane()->List()};
    for (size_t i = 1; i < expected.size(); ++i) {
        EXPECT_LT(position(expected[i - 1]), position(expected[i])) << i;
        EXPECT_LT(position(expected[i]), std::ptrdiff_t(chain.size())) << i;
    }
    // The window starts on the tree; Space on a focused toolbar button clicks it.
    EXPECT_EQ(window_->focusWidget(), window_->LeftPane()->Tree());
    window_->MainToolBar()->Button(0)->setFocus();
    QTest::keyClick(window_->MainToolBar()->Button(0), Qt::Key_Space);
    EXPECT_TRUE(window_->RightPane()->Dashboard());
}

TEST_F(MainWndTest, ScreenReadersFindAndPressTheButtonsAndTheEntryByRoleAndName) {
    QAccessibleInterface* root = QAccessible::queryAccessibleInterface(window_.get());
    ASSERT_NE(root, nullptr);
    const auto buttons = AccessiblesOfRole(root, QAccessible::Button);
    for (int i = 0; i < 3; ++i) {
        const QString name = window_->MainToolBar()->Button(i)->text();
        EXPECT_TRUE(buttons.count(name)) << name.toStdString();
    }
    EXPECT_TRUE(buttons.count(CServerEditBar::AddButtonName()));
    for (const auto& [name, button] : buttons)
        EXPECT_FALSE(name.isEmpty());  // no unnamed button anywhere

    QAccessibleInterface* dashboard = buttons.at(window_->MainToolBar()->Button(0)->text());
    ASSERT_NE(dashboard->actionInterface(), nullptr);
    dashboard->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTRY_VERIFY(window_->RightPane()->Dashboard());

    const auto entries = AccessiblesOfRole(root, QAccessible::EditableText);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries.begin()->second->object(), window_->LeftPane()->EditBar());
    const auto lists = AccessiblesOfRole(root, QAccessible::List);
    EXPECT_EQ(lists.size(), 2u);  // the event list and the element list
}

TEST_F(MainWndTest, ClosingWhileAnOperationWaitsIsRefusedUntilItEnds) {
    OperationCallback finish;
    bool close_tried = false;
    QTimer::singleShot(0, [&] {
        close_tried = true;
        test::AnswerNextBox(test::Answer::kFirst);  // the notice that it must wait
        window_->close();
        EXPECT_TRUE(window_->isVisible());
        finish(0);
    });
    const int result = RunModalOperation(window_.get(), 220, [&](OperationCallback done) {
        finish = std::move(done);
        return 0;
    });
    EXPECT_TRUE(close_tried);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ModalOperationsRunning(), 0);
    window_->close();
    EXPECT_FALSE(window_->isVisible());
}

}  // namespace
}  // namespace halvorin
