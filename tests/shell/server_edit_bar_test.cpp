#include "net/ui/server_edit_bar.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTest>

#include "tests/support/desktop_fixture.h"

namespace halvorin {
namespace {

class ServerEditBarTest : public test::DesktopTest {
  protected:
    void SetUp() override {
        DesktopTest::SetUp();
        UseApplicationLook();
        bar_.resize(260, CServerEditBar::kHeight);
        bar_.show();
        bar_.activateWindow();
        test::WaitUntil([&] { return QApplication::activeWindow() == &bar_; }, 1000);
    }
    void ClickText() { QTest::mouseClick(&bar_, Qt::LeftButton, {}, bar_.TextRect().center()); }
    void ClickAdd() { QTest::mouseClick(&bar_, Qt::LeftButton, {}, bar_.ButtonRect().center()); }
    void Type(const QString& text) { QTest::keyClicks(&bar_, text); }

    CServerEditBar bar_;
};

TEST_F(ServerEditBarTest, ItsFieldButtonAndTextSitWhereTheLayoutPutsThem) {
    EXPECT_EQ(bar_.objectName(), "ServerEditBar");
    EXPECT_EQ(bar_.FieldRect(), QRect(12, 0, 260 - 24, CServerEditBar::kHeight - 12));
    EXPECT_EQ(bar_.ButtonRect().width(), bar_.FieldRect().height());
    EXPECT_EQ(bar_.ButtonRect().right(), bar_.FieldRect().right());
    EXPECT_EQ(bar_.TextRect().right(), bar_.ButtonRect().left() - 1 - 6);
    EXPECT_TRUE(bar_.placeholderShown());
    EXPECT_EQ(bar_.text(), "Enter server name or IP address.");
}

TEST_F(ServerEditBarTest, ACommitHandsOnTheTrimmedNameAndOnlyANameTheManagerCanReach) {
    QSignalSpy commands(&bar_, &CServerEditBar::Command);
    // The add button does nothing while the placeholder shows.
    ClickAdd();
    EXPECT_EQ(commands.count(), 0);

    struct Case {
        const char* typed;
        const char* handed;  // nullptr: refused, the text stays
    };
    const Case cases[] = {
        {"  jbod-a  ", "jbod-a"},
        {"10.0.0.7:6001", "10.0.0.7:6001"},
        {"[2001:db8::5]:6001", "[2001:db8::5]:6001"},
        {"host:99999", nullptr},
        {"two words", nullptr},
        {"[::1", nullptr},
        {"host:", nullptr},
    };
    for (const Case& c : cases) {
        ClickText();
        Type(c.typed);
        commands.clear();
        QTest::keyClick(&bar_, Qt::Key_Return);
        if (c.handed) {
            EXPECT_EQ(commands.count(), 1) << c.typed;
            EXPECT_EQ(commands.value(0).value(0).toInt(), CServerEditBar::kAddCommand);
            EXPECT_EQ(bar_.committedText(), c.handed);
            EXPECT_TRUE(bar_.text().isEmpty());
        } else {
            EXPECT_EQ(commands.count(), 0) << c.typed;
            EXPECT_TRUE(bar_.refused()) << c.typed;
            EXPECT_EQ(bar_.text(), c.typed);  // kept for the operator to mend
            QTest::keyClick(&bar_, Qt::Key_Backspace);
            EXPECT_FALSE(bar_.refused());
            QTest::keyClick(&bar_, Qt::Key_Home);
            for (int i = 0; i < 40; ++i)
                QTest::keyClick(&bar_, Qt::Key_Delete);
            bar_.Commit();  // clear what is left; may be refused again
            while (!bar_.text().isEmpty()) {
                QTest::keyClick(&bar_, Qt::Key_End);
                QTest::keyClick(&bar_, Qt::Key_Backspace);
            }
        }
    }
    // Only blanks: nothing handed on, the field is cleared.
    ClickText();
    Type("    ");
    commands.clear();
    QTest::keyClick(&bar_, Qt::Key_Return);
    EXPECT_EQ(commands.count(), 0);
    EXPECT_TRUE(bar_.text().isEmpty());
    // The add button commits as Enter does.
    Type("nas1");
    ClickAdd();
    EXPECT_EQ(commands.count(), 1);
    EXPECT_EQ(bar_.committedText(), "nas1");
}

TEST_F(ServerEditBarTest, TypingStopsAtTheFieldsVisibleWidthAndTheCaretFollowsKeys) {
    ClickText();
    EXPECT_FALSE(bar_.placeholderShown());
    Type(QString(200, 'W'));
    const int kept = int(bar_.text().size());
    EXPECT_GT(kept, 3);
    EXPECT_LT(kept, 200);
    EXPECT_EQ(bar_.caretIndex(), kept);
    QTest::keyClick(&bar_, Qt::Key_Home);
    EXPECT_EQ(bar_.caretIndex(), 0);
    QTest::keyClick(&bar_, Qt::Key_Right);
    QTest::keyClick(&bar_, Qt::Key_Right);
    EXPECT_EQ(bar_.caretIndex(), 2);
    QTest::keyClick(&bar_, Qt::Key_Backspace);
    EXPECT_EQ(bar_.caretIndex(), 1);
    EXPECT_EQ(int(bar_.text().size()), kept - 1);
    QTest::keyClick(&bar_, Qt::Key_End);
    EXPECT_EQ(bar_.caretIndex(), kept - 1);
}

// Ctrl+A selects the whole name: the next character replaces it, Escape
// keeps it; Ctrl+C, Ctrl+X and Ctrl+V go through the clipboard; Delete
// takes the character after the caret.
TEST_F(ServerEditBarTest, SelectAllCopyCutPasteAndDelete) {
    ClickText();
    Type("storage-01");
    QTest::keyClick(&bar_, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&bar_, Qt::Key_Escape);
    QTest::keyClick(&bar_, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "storage-01");
    QTest::keyClick(&bar_, Qt::Key_X, Qt::NoModifier);
    EXPECT_EQ(bar_.text(), "x");
    QGuiApplication::clipboard()->setText("nas-02\nsecond line");
    QTest::keyClick(&bar_, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(bar_.text(), "xnas-02");  // one line only
    QTest::keyClick(&bar_, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&bar_, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(bar_.text(), "");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "xnas-02");
    QTest::keyClick(&bar_, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(&bar_, Qt::Key_Home);
    QTest::keyClick(&bar_, Qt::Key_Delete);
    EXPECT_EQ(bar_.text(), "nas-02");
    EXPECT_EQ(bar_.caretIndex(), 0);
}

TEST_F(ServerEditBarTest, ADisabledBarIgnoresClicksAndKeys) {
    bar_.SetDisabled(true);
    ClickText();
    Type("abc");
    EXPECT_TRUE(bar_.placeholderShown());
    bar_.SetDisabled(false);
    ClickText();
    Type("abc");
    EXPECT_EQ(bar_.text(), "abc");
}

TEST_F(ServerEditBarTest, TabBringsTheKeyboardReadyToTypeAndScreenReadersSeeATextField) {
    QFocusEvent by_tab(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(&bar_, &by_tab);
    Type("nas-01");
    EXPECT_EQ(bar_.text(), "nas-01");

    QAccessibleInterface* field = QAccessible::queryAccessibleInterface(&bar_);
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->role(), QAccessible::EditableText);
    EXPECT_EQ(field->text(QAccessible::Name), bar_.PlaceholderText());
    EXPECT_EQ(field->text(QAccessible::Value), "nas-01");
    ASSERT_EQ(field->childCount(), 1);
    QAccessibleInterface* add = field->child(0);
    EXPECT_EQ(add->role(), QAccessible::Button);
    EXPECT_EQ(add->text(QAccessible::Name), CServerEditBar::AddButtonName());
    QSignalSpy commands(&bar_, &CServerEditBar::Command);
    add->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTRY_COMPARE(commands.count(), 1);
    EXPECT_EQ(bar_.committedText(), "nas-01");
}

}  // namespace
}  // namespace halvorin
