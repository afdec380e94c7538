// What the operator does with a whole enclosure from the System Information
// panel: rename it, mute its buzzer, switch its identification LED, choose
// and upgrade its firmware, restart it and shut it down.
//
// Every action keeps its own counted reference on the sub-enclosure for as
// long as it waits, so the enclosure may vanish meanwhile: the operation
// then ends with a failure and the view is rebuilt after the wait. Failures
// are never silent: each logs a warning event with the result.
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <thread>

#include "base/result_code.h"
#include "enclosure/model/display_name.h"
#include "enclosure/ops/firmware_package.h"
#include "enclosure/ops/firmware_upgrade.h"
#include "enclosure/poll/event_rule.h"
#include "shell/events/operator_event.h"
#include "shell/theme/string_resources.h"
#include "shell/widgets/message_box.h"
#include "shell/widgets/post_to_ui.h"
#include "views/action_events.h"
#include "views/action_host.h"
#include "views/item_data.h"
#include "views/system_info_panel.h"

namespace halvorin {

namespace {

int Ask(int text_id) {
    CMessageBox box;
    return box.ShowMessageBox(CMessageBox::kQuestion, text_id);
}

void Tell(int text_id) {
    CMessageBox box;
    box.ShowMessageBox(CMessageBox::kNotice, text_id);
}

}  // namespace

void SystemInfoPanel::Click(uint32_t spot) {
    if (host_.Waiting() || !host_.Subject()) return;
    switch (spot) {
        case HS_CHANGE_NAME:
            if (ChangeSystemName(true) < 0) Tell(136);
            return;
        case HS_MUTE:
            return MuteBuzzer();
        case HS_IDENT_LED:
            return ToggleUidLed();
        case HS_BROWSE:
            return BrowseFirmware();
        case HS_UPGRADE:
            return UpgradeFirmware();
        case HS_RESTART:
            return StopOrRestart(kRestartCommand);
        case HS_SHUTDOWN:
            return StopOrRestart(kShutdownCommand);
        default:
            return;
    }
}

// Sends the editor's text as the system name: 0 when there was nothing to
// do or the operator declined, the operation's result otherwise. The name
// kept in the model is exactly the bytes sent.
int SystemInfoPanel::ChangeSystemName(bool confirm) {
    const QString text = editor_.Text();
    if (text.isEmpty()) return kOk;
    if (confirm && Ask(130) != CMessageBox::kResultYes) return kOk;
    Ref<CSubEnc> subenc = Ref<CSubEnc>::Share(host_.Subject());
    const std::string name = text.toStdString();
    const OperatorAction action = OperatorAction::kRename;
    const int result = host_.RunOperation(TextsOf(action).waiting, [&](OperationCallback done) {
        return SetSystemName(subenc.get(), name, std::move(done));
    });
    if (result < 0) {
        LogActionOutcome(action, subenc.get(), result);
        return result;
    }
    const QString stored = QString::fromStdString(SubEncInfo(subenc.get()).system_name);
    LogActionEvent(subenc.get(), ActionDone(action, {stored.toStdU16String()}));
    if (host_.Subject() == subenc.get()) {
        editor_.Load(stored);
        host_.RepaintPanel();
    }
    host_.SubjectRenamed(subenc.get());
    return result;
}

void SystemInfoPanel::MuteBuzzer() {
    Ref<CSubEnc> subenc = Ref<CSubEnc>::Share(host_.Subject());
    const OperatorAction action = OperatorAction::kMuteBuzzer;
    const int result = host_.RunOperation(TextsOf(action).waiting, [&](OperationCallback done) {
        return halvorin::MuteBuzzer(subenc.get(), std::move(done));
    });
    LogActionOutcome(action, subenc.get(), result);
    if (result >= 0) host_.Refresh();
}

void SystemInfoPanel::ToggleUidLed() {
    Ref<CSubEnc> subenc = Ref<CSubEnc>::Share(host_.Subject());
    const bool on = !(subenc->indicators & kIndicatorUidLed);
    const OperatorAction action = on ? OperatorAction::kUidLedOn : OperatorAction::kUidLedOff;
    const int result = host_.RunOperation(TextsOf(action).waiting, [&](OperationCallback done) {
        return SetUidLed(subenc.get(), on, std::move(done));
    });
    LogActionOutcome(action, subenc.get(), result);
    if (result >= 0) host_.Refresh();
}

void SystemInfoPanel::StopOrRestart(uint8_t command) {
    const bool restart = command == kRestartCommand;
    if (Ask(restart ? 126 : 125) != CMessageBox::kResultYes) return;
    Ref<CSubEnc> subenc = Ref<CSubEnc>::Share(host_.Subject());
    const OperatorAction action = restart ? OperatorAction::kRestart : OperatorAction::kShutdown;
    const int result = host_.RunOperation(TextsOf(action).waiting, [&](OperationCallback done) {
        return SendEnclosureCommand(subenc.get(), command, std::move(done));
    });
    // On success the enclosure goes away now; without a line nothing would say why.
    LogActionOutcome(action, subenc.get(), result);
    if (result < 0) Tell(restart ? 281 : 282);
}

void SystemInfoPanel::BrowseFirmware() {
    const QFileInfo chosen(firmware_path_);
    QString start = last_folder_.isEmpty() ? QDir::homePath() : last_folder_;
    if (!firmware_path_.isEmpty() && chosen.exists()) start = chosen.absolutePath();
    QFileDialog dialog(&host_.Window(), LoadQString(24), start);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // The names halvorin-mkfw's examples give packages, and any other.
    dialog.setNameFilters({LoadQString(331) + " (*.fw *.lzma)", LoadQString(332) + " (*)"});
    if (chosen.isFile()) dialog.selectFile(chosen.absoluteFilePath());
    if (!host_.RunDialog(dialog) || dialog.selectedFiles().isEmpty()) return;
    const QString path = dialog.selectedFiles().front();
    last_folder_ = QFileInfo(path).absolutePath();
    if (host_.Subject()) SetFirmwarePath(path);
}

// Checks the package away from the interface thread (it may take a moment
// to unpack), then starts the upgrade. A package refused before anything is
// sent is logged as refused, with the reason; only a started upgrade logs
// that it started.
void SystemInfoPanel::UpgradeFirmware() {
    Ref<CSubEnc> subenc = Ref<CSubEnc>::Share(host_.Subject());
    const std::string path = QFile::encodeName(firmware_path_).toStdString();
    std::string model;
    {
        std::lock_guard lock(subenc->mutex);
        model = subenc->model_text;
    }
    // The checking thread owns its inputs and shares only the result, which
    // the interface thread reads after joining it.
    struct PackageCheck {
        PackageProblem problem;
        std::optional<UnpackedFirmware> firmware;
    };
    const auto check = std::make_shared<PackageCheck>();
    {
        std::jthread checker;
        host_.RunOperation(TextsOf(OperatorAction::kStartUpgrade).waiting,
                           [&](OperationCallback done) {
                               checker = std::jthread([check, path, model, done = std::move(done)] {
                                   check->problem = UnpackFirmware(path, model, check->firmware);
                                   PostToUi(qApp, [done] { done(kOk); });
                               });
                               return kOk;
                           });
    }
    int started = check->problem.failed() ? check->problem.result : kOk;
    if (started == kOk) {
        if (Ask(129) != CMessageBox::kResultYes) return;
        started = StartFirmwareUpgrade(subenc.get(), std::move(*check->firmware), upgrade_options_);
    }
    LogActionOutcome(OperatorAction::kStartUpgrade, subenc.get(), started);
    if (started >= 0) {
        upgrades_.Follow(subenc.get());
    } else if (host_.Subject() == subenc.get()) {
        upgrade_text_ = LoadQString(UpgradeResultText(started));
        host_.RepaintPanel();
    }
}

}  // namespace halvorin
