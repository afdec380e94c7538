#include "shell/widgets/message_box.h"

#include <QTest>
#include <QToolButton>

#include "shell/theme/theme_font.h"
#include "tests/support/desktop_fixture.h"

namespace halvorin {
namespace {

class MessageBoxTest : public test::DesktopTest {
  protected:
    void SetUp() override {
        DesktopTest::SetUp();
        UseApplicationLook();
        owner_ = std::make_unique<QWidget>();
        owner_->setGeometry(100, 80, 900, 600);
        owner_->show();
        SetApplicationWindow(owner_.get());
    }

    // Shows a box, runs `act` once it waits, and returns its answer. A box
    // that `act` leaves open is closed after a while, failing the test, and
    // so is a box that never waited (its `act`, with the checks in it, never ran).
    int Ask(int kind, int text_id, const std::function<void(CMessageBox&)>& act) {
        CMessageBox box;
        bool acted = false;
        QObject::connect(&box, &CMessageBox::Waiting, &box, [&] {
            acted = true;
            act(box);
            QTimer::singleShot(3000, &box, [&] {
                ADD_FAILURE() << "the box did not end";
                box.CloseButton()->click();
            });
        });
        const int result = box.ShowMessageBox(kind, text_id);
        EXPECT_TRUE(acted) << "no box was shown";
        return result;
    }

    static void Click(CMessageBox& box, QRect button) {
        QTest::mouseClick(&box, Qt::LeftButton, {}, button.center());
    }

    static void MoveTo(CMessageBox& box, QPoint at) {
        QMouseEvent move(QEvent::MouseMove, QPointF(at), box.mapToGlobal(QPointF(at)), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&box, &move);
    }

    std::unique_ptr<QWidget> owner_;
};

TEST_F(MessageBoxTest, AOneLineQuestionIs129By387WithNoLeftOfYes) {
    QSize size;
    QRect first;
    QRect second;
    bool owner_disabled = false;
    QPoint centre;
    const int result = Ask(CMessageBox::kQuestion, 127, [&](CMessageBox& box) {
        size = box.size();
        first = box.FirstButton();
        second = box.SecondButton();
        owner_disabled = !owner_->isEnabled();
        centre = box.geometry().center();
        Click(box, first);
    });
    EXPECT_EQ(result, CMessageBox::kResultYes);
    EXPECT_EQ(size, QSize(387, 129));
    // The first button ends 16 pixels from the right and bottom edges, 24 high.
    EXPECT_EQ(first.right() + 1, 387 - 16);
    EXPECT_EQ(first.bottom() + 1, 129 - 16);
    EXPECT_EQ(first.top(), 129 - 40);
    EXPECT_EQ(second.right() + 1, first.left() - 18);
    EXPECT_EQ(second.top(), first.top());
    EXPECT_TRUE(owner_disabled);
    EXPECT_TRUE(owner_->isEnabled());  // enabled again afterwards
    EXPECT_LE((centre - owner_->frameGeometry().center()).manhattanLength(), 2);
}

TEST_F(MessageBoxTest, ALongerTextMakesATallerBoxThreeTimesAsWide) {
    const QFont font = CreateThemeFont(LoadThemeFont(993, FontSize(15, 400), "Roboto Regular"));
    for (const char* language : {"en", "de", "zh_TW"}) {
        UseLanguage(language);
        const int text_height =
            QFontMetrics(font)
                .boundingRect(QRect(0, 0, 290, 10000), Qt::TextWordWrap, LoadQString(126))
                .height();
        QSize size;
        Ask(CMessageBox::kQuestion, 126, [&](CMessageBox& box) {
            size = box.size();
            box.CloseButton()->click();
        });
        EXPECT_GT(text_height, QFontMetrics(font).height()) << language;  // wrapped
        EXPECT_EQ(size.height(), std::max(text_height, 30) + 99) << language;
        EXPECT_EQ(size.width(), 3 * size.height()) << language;
    }
}

TEST_F(MessageBoxTest, EveryWayOutHasItsResult) {
    EXPECT_EQ(Ask(CMessageBox::kQuestion, 125, [](CMessageBox& b) { Click(b, b.SecondButton()); }),
              CMessageBox::kResultNo);
    EXPECT_EQ(Ask(CMessageBox::kQuestion, 125, [](CMessageBox& b) { b.CloseButton()->click(); }),
              CMessageBox::kResultNo);
    EXPECT_EQ(Ask(CMessageBox::kQuestion, 125, [](CMessageBox& b) { b.close(); }),
              CMessageBox::kResultNo);  // closed by the window manager
    EXPECT_EQ(Ask(CMessageBox::kNotice, 135, [](CMessageBox& b) { Click(b, b.FirstButton()); }),
              CMessageBox::kResultClose);
    EXPECT_EQ(Ask(CMessageBox::kNotice, 135, [](CMessageBox& b) { b.CloseButton()->click(); }),
              CMessageBox::kResultNo);
    EXPECT_EQ(Ask(5, 135,
                  [](CMessageBox& b) {
                      EXPECT_TRUE(b.FirstButton().isNull());
                      EXPECT_TRUE(b.SecondButton().isNull());
                      b.CloseButton()->click();
                  }),
              CMessageBox::kResultNo);
}

// A question that offers to stay: Cancel is the third button from the
// right, and every way out that is no answer (Escape, the close button, the
// window manager) stays. Enter takes the first button.
TEST_F(MessageBoxTest, AQuestionWithCancelStaysWhenLeftWithoutAnAnswer) {
    const struct {
        const char* way;
        int kind;
        std::function<void(CMessageBox&)> act;
        int result;
    } cases[] = {
        {"Cancel", CMessageBox::kQuestionCancel, [](CMessageBox& b) { Click(b, b.ThirdButton()); },
         CMessageBox::kResultCancel},
        {"No", CMessageBox::kQuestionCancel, [](CMessageBox& b) { Click(b, b.SecondButton()); },
         CMessageBox::kResultNo},
        {"close button", CMessageBox::kQuestionCancel,
         [](CMessageBox& b) { b.CloseButton()->click(); }, CMessageBox::kResultCancel},
        {"window manager", CMessageBox::kQuestionCancel, [](CMessageBox& b) { b.close(); },
         CMessageBox::kResultCancel},
        {"Escape", CMessageBox::kQuestionCancel,
         [](CMessageBox& b) { QTest::keyClick(&b, Qt::Key_Escape); }, CMessageBox::kResultCancel},
        {"Enter", CMessageBox::kQuestionCancel,
         [](CMessageBox& b) { QTest::keyClick(&b, Qt::Key_Return); }, CMessageBox::kResultYes},
        {"Escape on a question", CMessageBox::kQuestion,
         [](CMessageBox& b) { QTest::keyClick(&b, Qt::Key_Escape); }, CMessageBox::kResultNo},
        {"Enter on a notice", CMessageBox::kNotice,
         [](CMessageBox& b) { QTest::keyClick(&b, Qt::Key_Enter); }, CMessageBox::kResultClose},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Ask(c.kind, 131, c.act), c.result) << c.way;
    Ask(CMessageBox::kQuestionCancel, 131, [](CMessageBox& b) {
        EXPECT_EQ(b.ThirdButton().right() + 18, b.SecondButton().left() - 1);
        Click(b, b.ThirdButton());
    });
}

TEST_F(MessageBoxTest, ANoticeHasOnlyCloseAtTheRight) {
    const int result = Ask(CMessageBox::kNotice, 136, [](CMessageBox& box) {
        EXPECT_TRUE(box.SecondButton().isNull());
        EXPECT_EQ(box.FirstButton().right() + 1, box.width() - 16);
        Click(box, box.FirstButton());
    });
    EXPECT_EQ(result, CMessageBox::kResultClose);
}

TEST_F(MessageBoxTest, ReleasingOutsideEveryButtonAnswersNothing) {
    bool stayed = false;
    const int result = Ask(CMessageBox::kQuestion, 129, [&](CMessageBox& box) {
        QTest::mousePress(&box, Qt::LeftButton, {}, box.FirstButton().center());
        QTest::mouseRelease(&box, Qt::LeftButton, {}, QPoint(box.width() / 2, 60));
        QTimer::singleShot(100, &box, [&] {
            stayed = box.isVisible();
            Click(box, box.SecondButton());
        });
    });
    EXPECT_TRUE(stayed);
    EXPECT_EQ(result, CMessageBox::kResultNo);
}

TEST_F(MessageBoxTest, TheButtonUnderTheMouseIsHot) {
    const int result = Ask(CMessageBox::kQuestion, 127, [](CMessageBox& box) {
        MoveTo(box, box.FirstButton().center());
        EXPECT_EQ(box.HotRect(), box.FirstButton());
        EXPECT_EQ(box.cursor().shape(), Qt::PointingHandCursor);
        MoveTo(box, box.SecondButton().center());
        EXPECT_EQ(box.HotRect(), box.SecondButton());
        MoveTo(box, QPoint(20, 60));
        EXPECT_TRUE(box.HotRect().isNull());
        EXPECT_EQ(box.cursor().shape(), Qt::ArrowCursor);
        MoveTo(box, box.FirstButton().center());
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&box, &leave);
        EXPECT_TRUE(box.HotRect().isNull());
        box.CloseButton()->click();
    });
    EXPECT_EQ(result, CMessageBox::kResultNo);
}

TEST_F(MessageBoxTest, TheTitleBandDragsTheBox) {
    QPoint before;
    QPoint after;
    Ask(CMessageBox::kQuestion, 127, [&](CMessageBox& box) {
        before = box.pos();
        QTest::mousePress(&box, Qt::LeftButton, {}, QPoint(60, 10));
        QMouseEvent move(QEvent::MouseMove, QPointF(90, 30), box.mapToGlobal(QPointF(90, 30)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&box, &move);
        after = box.pos();
        QTest::mouseRelease(&box, Qt::LeftButton, {}, QPoint(90, 30));
        box.CloseButton()->click();
    });
    EXPECT_EQ(after - before, QPoint(30, 20));
}

TEST_F(MessageBoxTest, TheApplicationWindowGoingAwayAnswersNo) {
    const int result = Ask(CMessageBox::kQuestion, 125, [&](CMessageBox&) { owner_.reset(); });
    EXPECT_EQ(result, CMessageBox::kResultNo);
}

TEST_F(MessageBoxTest, AMissingColourFallsBackToTheDefault) {
    auto body_colour = [&] {
        QColor colour;
        Ask(CMessageBox::kNotice, 135, [&](CMessageBox& box) {
            colour = box.grab().toImage().pixelColor(box.width() / 2, box.height() - 8);
            box.CloseButton()->click();
        });
        return colour;
    };
    EXPECT_EQ(body_colour(), QColor(255, 255, 255));
    UseResourceCopy();
    RemoveTableEntry("theme/COLOR.tsv", 766);
    EXPECT_EQ(body_colour(), QColor(51, 102, 204));
}

}  // namespace
}  // namespace halvorin
