#include "enclosure/statuswnd/status_wnd.h"

#include <QElapsedTimer>
#include <QFontMetrics>

#include "shell/theme/theme_font.h"
#include "tests/support/desktop_fixture.h"

namespace halvorin {
namespace {

using test::WaitUntil;

class StatusWndTest : public test::DesktopTest {
  protected:
    void SetUp() override {
        DesktopTest::SetUp();
        UseApplicationLook();
        top_.setGeometry(200, 100, 800, 500);
        inner_ = new QWidget(&top_);  // owned by top_
        inner_->setGeometry(10, 10, 100, 100);
        top_.show();
        top_.activateWindow();
        WaitUntil([&] { return QApplication::activeWindow() == &top_; }, 1000);
    }

    void ActivateAnotherWindow() {
        other_.setGeometry(0, 0, 200, 200);
        other_.show();
        other_.activateWindow();
        WaitUntil([&] { return QApplication::activeWindow() == &other_; }, 1000);
    }

    QWidget top_;
    QWidget* inner_ = nullptr;
    QWidget other_;
};

TEST_F(StatusWndTest, ATimedWindowClosesWhenItsTimeIsUp) {
    QElapsedTimer clock;
    clock.start();
    QPointer<CStatusWnd> status = CStatusWnd::ShowStatus(217, inner_, 300);
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->isVisible());
    EXPECT_TRUE(WaitUntil([&] { return status.isNull(); }));
    EXPECT_GE(clock.elapsed(), 290);
}

TEST_F(StatusWndTest, ATimedWindowClosesAtOnceWhenAnotherWindowIsActivated) {
    QPointer<CStatusWnd> status = CStatusWnd::ShowStatus(217, inner_, 60000);
    QApplication::processEvents();
    ASSERT_TRUE(status);
    ActivateAnotherWindow();
    EXPECT_TRUE(WaitUntil([&] { return status.isNull(); }, 2000));
}

TEST_F(StatusWndTest, AnUntimedWindowStaysUntilItsCallerClosesIt) {
    QPointer<CStatusWnd> status = CStatusWnd::ShowStatus(218, inner_, CStatusWnd::kUntimed);
    ActivateAnotherWindow();
    WaitUntil([] { return false; }, 200);
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->isVisible());
    status->close();
    EXPECT_TRUE(WaitUntil([&] { return status.isNull(); }));
}

TEST_F(StatusWndTest, ATimedWindowLetsClicksThroughAndIsAlmostOpaque) {
    QPointer<CStatusWnd> timed = CStatusWnd::ShowStatus(217, inner_, 60000);
    EXPECT_TRUE(timed->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_TRUE(timed->windowFlags().testFlag(Qt::WindowTransparentForInput));
    EXPECT_NEAR(timed->windowOpacity(), 250.0 / 255.0, 0.01);
    timed->close();
    QPointer<CStatusWnd> untimed = CStatusWnd::ShowStatus(218, inner_, CStatusWnd::kUntimed);
    EXPECT_FALSE(untimed->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_EQ(untimed->windowOpacity(), 1.0);
    untimed->close();
}

TEST_F(StatusWndTest, ItFitsItsTextAndIsCentredOnTheOwnersTopLevelWindow) {
    const QFontMetrics metrics(
        CreateThemeFont(LoadThemeFont(986, FontSize(14, 0), "Roboto Regular")));
    QPointer<CStatusWnd> short_one = CStatusWnd::ShowStatus(218, inner_, CStatusWnd::kUntimed);
    QPointer<CStatusWnd> long_one = CStatusWnd::ShowStatus(217, inner_, CStatusWnd::kUntimed);
    EXPECT_EQ(short_one->width(), metrics.horizontalAdvance(LoadQString(218)) + 40);
    EXPECT_EQ(short_one->height(), metrics.height() + 24 + 54);  // the status icon is 24 high
    EXPECT_GT(long_one->width(), short_one->width());
    for (CStatusWnd* status : {short_one.data(), long_one.data()}) {
        const QPoint off = status->geometry().center() - top_.frameGeometry().center();
        EXPECT_LE(off.manhattanLength(), 2);
    }
    short_one->close();
    long_one->close();
}

TEST_F(StatusWndTest, ItPaintsItsTextInTheThemeColour) {
    QPointer<CStatusWnd> status = CStatusWnd::ShowStatus(218, inner_, CStatusWnd::kUntimed);
    const QImage image = status->grab().toImage();
    bool teal_text = false;
    for (int y = 24 + 34; y < image.height() && !teal_text; ++y)
        for (int x = 0; x < image.width() && !teal_text; ++x)
            teal_text = image.pixelColor(x, y) == QColor(0x43, 0xA0, 0xAE);
    EXPECT_TRUE(teal_text);
    EXPECT_EQ(image.pixelColor(image.width() / 2, 8), QColor(255, 255, 255));
    status->close();
}

}  // namespace
}  // namespace halvorin
