// The operator's actions on a whole enclosure, end to end: clicks on the
// System Information panel over a real model read from simulated enclosures
// through a real agent on loopback. The simulator's state proves what
// reached the enclosure; the events logged prove what the operator was told.
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <functional>

#include "enclosure/model/display_name.h"
#include "enclosure/model/element_naming.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/ses_dev.h"
#include "enclosure/model/ses_domain.h"
#include "enclosure/model/zone_bits.h"
#include "enclosure/ops/firmware_package.h"
#include "enclosure/ops/lzma_stream.h"
#include "enclosure/poll/event_rule.h"
#include "shell/events/operator_event.h"
#include "sim/simulated_enclosure.h"
#include "tests/support/desktop_fixture.h"
#include "tests/support/loopback_manager.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/temp_path.h"
#include "tests/views/enclosure_actions_fixture.h"
#include "views/elem_list_box.h"
#include "views/system_info_panel.h"
#include "views/zoning_layout.h"

namespace halvorin {
namespace {

using test::Answer;
using test::AnswerNextBox;
using test::EnclosureActionsTest;
using test::LoggedEvent;
using test::WaitUntil;

// ---- the panel --------------------------------------------------------------------

// The system name field selects all with Ctrl+A: a character replaces the
// name, Ctrl+C/X/V go through the clipboard (one line of it), Delete takes
// the character after the caret.
TEST_F(EnclosureActionsTest, TheNameFieldSelectsAllCopiesCutsAndPastes) {
    Open("jbod24.json");
    list_->setFocus();
    ClickSpot(HS_NAME_EDIT);
    QTest::keyClicks(list_.get(), "old-name");
    QTest::keyClick(list_.get(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_TRUE(list_->Editor().AllSelected());
    QTest::keyClick(list_.get(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "old-name");
    QTest::keyClicks(list_.get(), "r");
    EXPECT_EQ(list_->Editor().Text(), "r");
    QGuiApplication::clipboard()->setText("ack-9\nmore");
    QTest::keyClick(list_.get(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(list_->Editor().Text(), "rack-9");
    QTest::keyClick(list_.get(), Qt::Key_Home);
    QTest::keyClick(list_.get(), Qt::Key_Delete);
    EXPECT_EQ(list_->Editor().Text(), "ack-9");
    QTest::keyClick(list_.get(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(list_.get(), Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(list_->Editor().Text(), "");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "ack-9");
}

TEST_F(EnclosureActionsTest, RenameSendsAndKeepsTheSameBytesCutAtACharacterBoundary) {
    Open("jbod24.json");
    QSignalSpy renamed(list_.get(), &CElemListBox::SubEncRenamed);
    list_->setFocus();
    ClickSpot(HS_NAME_EDIT);
    // 40 characters typed, 32 kept; each "é" is two bytes, so 16 fit the enclosure's 32.
    for (int i = 0; i < 40; ++i) {
        QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(0xE9)));
        QApplication::sendEvent(list_.get(), &key);
    }
    EXPECT_EQ(list_->Editor().Text(), QString(32, QChar(0xE9)));
    AnswerNextBox(Answer::kFirst);
    ClickSpot(HS_CHANGE_NAME);
    const std::string expected = QString(16, QChar(0xE9)).toStdString();
    EXPECT_EQ(Sim().system_name, expected);
    EXPECT_EQ(std::string(Shown()->system_name), expected);
    ASSERT_NE(Last(), nullptr);
    EXPECT_EQ(Last()->id, 20023);
    EXPECT_EQ(Last()->arguments, QStringList{QString::fromStdString(expected)});
    EXPECT_EQ(renamed.count(), 1);
    EXPECT_FALSE(list_->Editor().Edited());

    // Backspace and plain ASCII: what is typed travels unchanged.
    QTest::keyClick(list_.get(), Qt::Key_End);
    for (int i = 0; i < 40; ++i)
        QTest::keyClick(list_.get(), Qt::Key_Backspace);
    QTest::keyClicks(list_.get(), "rack-7 \"A\"");
    AnswerNextBox(Answer::kFirst);
    ClickSpot(HS_CHANGE_NAME);
    EXPECT_EQ(Sim().system_name, "rack-7 \"A\"");
    Minutes(1);
    EXPECT_EQ(SubEncInfo(Shown()).system_name, "rack-7 \"A\"");

    // An empty name does nothing at all: no question, no operation, no event.
    for (int i = 0; i < 20; ++i)
        QTest::keyClick(list_.get(), Qt::Key_Backspace);
    const size_t logged = events_.size();
    ClickSpot(HS_CHANGE_NAME);
    EXPECT_EQ(events_.size(), logged);
    EXPECT_EQ(Sim().system_name, "rack-7 \"A\"");
}

TEST_F(EnclosureActionsTest, MuteAndTheUidLedChangeTheEnclosureAndTheSwitchesFollow) {
    Open("jbod24.json");
    ASSERT_TRUE(Sim().buzzer);
    ASSERT_TRUE(Shown()->indicators & kIndicatorBuzzer);
    ClickSpot(HS_MUTE);
    EXPECT_FALSE(Sim().buzzer);
    EXPECT_FALSE(Shown()->indicators & kIndicatorBuzzer);
    list_->repaint();
    EXPECT_TRUE(list_->PanelSpotRect(HS_MUTE).isEmpty()) << "a silent buzzer has nothing to mute";

    ClickSpot(HS_IDENT_LED);
    EXPECT_TRUE(Sim().uid_led);
    EXPECT_TRUE(Shown()->indicators & kIndicatorUidLed);
    ClickSpot(HS_IDENT_LED);
    EXPECT_FALSE(Sim().uid_led);
    // Each action that succeeded left its line.
    std::vector<int> ids;
    for (const LoggedEvent& e : events_) {
        ids.push_back(e.id);
        EXPECT_EQ(e.level, kEventInformation);
        EXPECT_EQ(e.arguments.value(0), QString::fromStdU16String(EnclosureDisplayName(Shown())));
    }
    EXPECT_EQ(ids, (std::vector<int>{303, 304, 305}));
}

// A slot's LED switched from its row: one line when it worked, a warning
// with the reason when it did not.
TEST_F(EnclosureActionsTest, TheSlotLedSwitchLogsWhatItDidAndWhatFailed) {
    Open("jbod24.json");
    const int slot_header = Header(kTypeArrayDeviceSlot);
    ASSERT_GE(slot_header, 0);
    list_->ToggleGroup(slot_header);
    list_->repaint();
    const int row = slot_header + 3;
    const QRect r = list_->RowRect(row);
    const QPoint led(r.left() + 160 + 60, r.center().y());
    QTest::mouseClick(list_.get(), Qt::LeftButton, {}, led);
    ASSERT_TRUE(list_->Row(row)->element->state & kStateIdentifyOn);
    ASSERT_NE(Last(), nullptr);
    EXPECT_EQ(Last()->id, 306);
    EXPECT_EQ(Last()->level, kEventInformation);
    EXPECT_EQ(Last()->arguments.value(0),
              QString::fromStdU16String(ElementName(list_->Row(row)->element.get())));

    ASSERT_TRUE(manager_->host().SetDevicePresent(manager_->enclosure(), 0, false));
    QTest::mouseClick(list_.get(), Qt::LeftButton, {}, led);
    ASSERT_NE(Last(), nullptr);
    EXPECT_EQ(Last()->id, 308);
    EXPECT_EQ(Last()->level, kEventWarning);
    EXPECT_FALSE(Last()->arguments.value(2).isEmpty());
}

TEST_F(EnclosureActionsTest, ActionsThatFailAreLoggedAndRestartAndShutdownSayItToo) {
    Open("jbod24.json");
    // The enclosure stops answering; the model still has it.
    ASSERT_TRUE(manager_->host().SetDevicePresent(manager_->enclosure(), 0, false));
    ClickSpot(HS_IDENT_LED);
    ASSERT_NE(Last(), nullptr);
    EXPECT_EQ(Last()->id, 278);
    EXPECT_EQ(Last()->level, kEventWarning);
    EXPECT_FALSE(Shown()->indicators & kIndicatorUidLed);

    AnswerNextBox(Answer::kFirst);  // yes, restart
    AnswerNextBox(Answer::kFirst);  // close the failure notice
    ClickSpot(HS_RESTART);
    ASSERT_NE(Last(), nullptr);
    EXPECT_EQ(Last()->id, 279);
    EXPECT_EQ(Last()->arguments.size(), 2);
    EXPECT_TRUE(WaitUntil([] { return QApplication::activeModalWidget() == nullptr; }));

    // A rename and a zoning table the enclosure never took leave their
    // warning too, besides the notice.
    list_->Editor().Load("RACK9");
    AnswerNextBox(Answer::kFirst);  // yes, rename
    AnswerNextBox(Answer::kFirst);  // close the failure notice
    ClickSpot(HS_CHANGE_NAME);
    ASSERT_NE(Last(), nullptr);
    EXPECT_EQ(Last()->id, 335);
    EXPECT_EQ(Last()->level, kEventWarning);
    EXPECT_EQ(Last()->arguments.size(), 2);
    EXPECT_TRUE(WaitUntil([] { return QApplication::activeModalWidget() == nullptr; }));

    list_->ToggleGroup(Header(kTypeZoneEntry));
    list_->repaint();
    const std::vector<int> ports = ZoneRows();
    ASSERT_FALSE(ports.empty());
    ClickCell(ports[0], 2);
    AnswerNextBox(Answer::kFirst);  // close the failure notice
    QTest::mouseClick(list_.get(), Qt::LeftButton, {},
                      list_->ZoningButtonRect(ports[0] - 1, HS_ZONING_APPLY).center());
    ASSERT_NE(Last(), nullptr);
    EXPECT_EQ(Last()->id, 336);
    EXPECT_EQ(Last()->level, kEventWarning);
    EXPECT_EQ(list_->PendingChanges(), CElemListBox::kZoningEdited) << "the edits stay";
}

TEST_F(EnclosureActionsTest, RestartTakesTheEnclosureAwayAndItComesBackShutdownLeavesItOff) {
    Open("jbod24.json");
    AnswerNextBox(Answer::kSecond);  // no: nothing happens
    ClickSpot(HS_RESTART);
    EXPECT_TRUE(manager_->enclosure().Visible());

    AnswerNextBox(Answer::kFirst);
    ClickSpot(HS_RESTART);
    EXPECT_FALSE(manager_->enclosure().Visible());
    ASSERT_NE(Last(), nullptr);
    EXPECT_EQ(Last()->id, 311);  // what else would tell why it went
    Minutes(1);
    EXPECT_TRUE(manager_->enclosure().Visible());
    EXPECT_EQ(events_.size(), 1u);

    ShowPrimary();
    AnswerNextBox(Answer::kFirst);
    ClickSpot(HS_SHUTDOWN);
    EXPECT_EQ(Last()->id, 312);
    Minutes(2);
    EXPECT_FALSE(manager_->enclosure().Visible());
}

// A package as the operator gets it: built by halvorin-mkfw.
std::string MakePackage(const std::string& name, const std::string& model) {
    const std::string a = test::UniqueTempPath(name + "-a.bin");
    const std::string b = test::UniqueTempPath(name + "-b.bin");
    for (const auto& [path, size] : {std::pair(a, 20000), std::pair(b, 9000)}) {
        QFile file(QString::fromStdString(path));
        if (!file.open(QIODevice::WriteOnly)) return {};
        file.write(QByteArray(size, char(size / 1000)));
    }
    const std::string out = test::UniqueTempPath(name + ".lzma");
    const int code = QProcess::execute(
        HALVORIN_MKFW,
        {"--model", QString::fromStdString(model), "--image-a", QString::fromStdString(a),
         "--image-b", QString::fromStdString(b), "-o", QString::fromStdString(out)});
    return code == 0 ? out : std::string();
}

TEST_F(EnclosureActionsTest, AnUpgradeFromAMkfwPackageRunsWithProgressAndChangesTheRevision) {
    Open("jbod24.json");
    const std::string package = MakePackage("desktop-upgrade", "m810");
    ASSERT_FALSE(package.empty());
    list_->repaint();
    EXPECT_TRUE(list_->PanelSpotRect(HS_UPGRADE).isEmpty()) << "nothing chosen: inert";

    // Browse opens the file dialog; the operator picks the package.
    QTimer pick;
    pick.callOnTimeout([&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QFileDialog*>(widget);
            if (!dialog || !dialog->isVisible()) continue;
            // As the operator types it: the whole path into the file name field.
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(name, nullptr);
            name->setText(QString::fromStdString(package));
            QMetaObject::invokeMethod(dialog, "accept");
        }
    });
    pick.start(20);
    ClickSpot(HS_BROWSE);
    pick.stop();
    EXPECT_EQ(list_->Panel().FirmwarePath(), QString::fromStdString(package));

    AnswerNextBox(Answer::kFirst);
    ClickSpot(HS_UPGRADE);
    ASSERT_TRUE(Logged(20019));
    EXPECT_EQ(list_->FollowedUpgrades(), 1);
    // While it runs the panel shows its progress and offers nothing to click.
    ASSERT_TRUE(WaitUntil([&] { return list_->Panel().UpgradeText().endsWith('%'); }));
    EXPECT_EQ(list_->Panel().FirmwarePath(), QString::fromStdString(package));
    list_->repaint();
    EXPECT_TRUE(list_->PanelSpotRect(HS_RESTART).isEmpty());
    ASSERT_TRUE(WaitUntil([&] { return list_->FollowedUpgrades() == 0; }, 20000));
    EXPECT_TRUE(Logged(20020));
    EXPECT_FALSE(Logged(20021));
    EXPECT_EQ(Shown()->upgrade_state, kUpgradeIdle);
    EXPECT_TRUE(list_->Panel().FirmwarePath().isEmpty());
    Minutes(1);
    ASSERT_TRUE(WaitUntil([&] {
        std::vector<Ref<CSubEnc>> subencs = CollectSubEnclosures(manager_->domain());
        const bool done =
            !subencs.empty() && SubEncInfo(subencs[0].get()).firmware_revision == "2.0.8";
        return done;
    }));
}

// The enclosure takes both images and comes back on its old firmware: the
// desktop must not call that a completed upgrade.
TEST_F(EnclosureActionsTest, AnUpgradeThatLeavesTheOldRevisionIsNoSuccess) {
    Open("jbod24.json", 1400,
         [](sim::Scenario& s) { s.upgrade_revision = s.subenclosures.at(0).revision; });
    const std::string package = MakePackage("desktop-stays", "m810");
    ASSERT_FALSE(package.empty());
    list_->SetFirmwarePath(QString::fromStdString(package));
    AnswerNextBox(Answer::kFirst);
    ClickSpot(HS_UPGRADE);
    ASSERT_TRUE(Logged(20019));
    ASSERT_TRUE(WaitUntil([&] { return list_->FollowedUpgrades() == 0; }, 20000));
    EXPECT_FALSE(Logged(20020));
    ASSERT_TRUE(Logged(298));
    const LoggedEvent* last = Last();
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->id, 298);
    EXPECT_EQ(last->level, kEventWarning);
    EXPECT_EQ(last->arguments.value(1), "2.0.7");
}

// Packages refused before a byte is sent: the reason is logged, and nothing
// claims that an upgrade started.
TEST_F(EnclosureActionsTest, HostilePackagesAreRefusedWithTheirReason) {
    Open("jbod24.json");
    const std::string good = MakePackage("hostile-base", "m810");
    ASSERT_FALSE(good.empty());
    QFile source(QString::fromStdString(good));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    QByteArray corrupt = source.readAll();
    corrupt[corrupt.size() - 40] = char(corrupt[corrupt.size() - 40] ^ 0x5A);
    const std::string corrupt_path = test::UniqueTempPath("corrupt.lzma");
    QFile out(QString::fromStdString(corrupt_path));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(corrupt);
    out.close();

    const std::vector<uint8_t> escape = CompressLzmaAlone(BuildTarArchive(
        "../jbod_fw.bin",
        BuildFirmwareFile("m810", std::vector<uint8_t>(4096, 1), std::vector<uint8_t>(4096, 2))));
    const std::string escape_path = test::UniqueTempPath("escape.lzma");
    QFile escape_file(QString::fromStdString(escape_path));
    ASSERT_TRUE(escape_file.open(QIODevice::WriteOnly));
    escape_file.write(reinterpret_cast<const char*>(escape.data()), qsizetype(escape.size()));
    escape_file.close();

    const struct {
        std::string path;
        int text;
    } cases[] = {
        {corrupt_path, 163},
        {MakePackage("other-model", "m410"), 164},
        {escape_path, 163},
        {test::UniqueTempPath("missing.lzma"), 162},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        events_.clear();
        list_->SetFirmwarePath(QString::fromStdString(c.path));
        ClickSpot(HS_UPGRADE);  // no question: the package never got that far
        ASSERT_NE(Last(), nullptr);
        EXPECT_EQ(Last()->id, 20024);
        EXPECT_EQ(Last()->arguments.value(1), LoadQString(c.text));
        EXPECT_FALSE(Logged(20019));
        // The path stays the path, to be tried again; the reason is beside it.
        EXPECT_EQ(list_->Panel().FirmwarePath(), QString::fromStdString(c.path));
        EXPECT_EQ(list_->Panel().UpgradeText(), LoadQString(c.text));
        EXPECT_EQ(list_->FollowedUpgrades(), 0);
        events_.clear();
        ClickSpot(HS_UPGRADE);  // again: the same reason, not "an invalid file path"
        ASSERT_NE(Last(), nullptr);
        EXPECT_EQ(Last()->arguments.value(1), LoadQString(c.text));
    }
    EXPECT_EQ(Shown()->upgrade_state, kUpgradeIdle);
}

TEST_F(EnclosureActionsTest, TheWholePanelFollowsTheCapabilitiesAndTheColumnsFollowTheWidth) {
    Open("jbod24.json");
    const int three = list_->Panel().Height();
    EXPECT_EQ(list_->Panel().Columns(), 3);
    Resize(700);
    EXPECT_EQ(list_->Panel().Columns(), 2);
    Resize(400);
    EXPECT_EQ(list_->Panel().Columns(), 1);
    EXPECT_GT(list_->Panel().Height(), three);
    list_->repaint();
    for (uint32_t spot : {HS_CHANGE_NAME, HS_RESTART, HS_SHUTDOWN, HS_BROWSE})
        EXPECT_FALSE(list_->PanelSpotRect(spot).isEmpty()) << "one column still holds " << spot;

    Shown()->capabilities = kUnsupportedModelCapabilities;  // no upgrade, restart or shutdown
    Resize(1400);
    list_->repaint();
    for (uint32_t spot : {HS_BROWSE, HS_RESTART, HS_SHUTDOWN, HS_IDENT_LED, HS_MUTE})
        EXPECT_TRUE(list_->PanelSpotRect(spot).isEmpty()) << spot;
    EXPECT_LT(list_->Panel().Height(), three);
}

TEST(PanelColumns, ColumnsThatFitTheWidthAndNeverMoreThanThree) {
    EXPECT_EQ(PanelColumns(100, 300), 1);  // not even one fits: one anyway
    EXPECT_EQ(PanelColumns(653, 300), 1);  // two need 300 + 54 + 300
    EXPECT_EQ(PanelColumns(654, 300), 2);
    EXPECT_EQ(PanelColumns(1008, 300), 3);
    EXPECT_EQ(PanelColumns(5000, 300), 3);
    EXPECT_EQ(PanelColumns(500, 0), 1);
}

// ---- an enclosure that goes away during an action -----------------------------------

TEST_F(EnclosureActionsTest, AnEnclosureRemovedDuringTheWaitEndsTheActionAndTheViewFollowsAfter) {
    Open("jbod24.json");
    CSubEnc* shown = Shown();
    poll_.stop();  // the reply waits until the view has been told to go
    ASSERT_TRUE(manager_->host().SetDevicePresent(manager_->enclosure(), 0, false));
    QTimer::singleShot(20, [&] {
        list_->ShowSubEnc(nullptr);  // what the tree does when the enclosure is gone
        list_->RefreshPass();
        EXPECT_EQ(list_->CurrentSubEnc(), shown) << "nothing changes under a waiting action";
        poll_.start(2);
    });
    ClickSpot(HS_MUTE);
    EXPECT_EQ(list_->CurrentSubEnc(), nullptr);
    ASSERT_NE(Last(), nullptr);
    EXPECT_EQ(Last()->id, 277);
    // The view lets go; another action can start on another enclosure later.
    ShowPrimary();
    EXPECT_NE(list_->CurrentSubEnc(), nullptr);
}

}  // namespace
}  // namespace halvorin
