// Following firmware upgrades: every 200 ms while one started here runs,
// the firmware box of the enclosure on screen shows its progress, and each
// upgrade that has ended is logged, whether or not its enclosure is on
// screen at that moment, so that no ending goes unrecorded. Success is
// logged only once the enclosure, read again, reports another revision.
#include <algorithm>

#include "enclosure/model/display_name.h"
#include "enclosure/poll/event_rule.h"
#include "shell/events/operator_event.h"
#include "shell/theme/string_resources.h"
#include "views/elem_list_box.h"
#include "views/system_info_panel.h"

namespace halvorin {

namespace {

// How long an enclosure is waited for after the activation: through its
// restart, and through its agent's return when the connection was lost.
constexpr std::chrono::seconds kReadBackLimit{180};
constexpr int kStillOldRevision = 298;
constexpr int kRevisionUnknown = 299;
constexpr int kReadingBackText = 300;

}  // namespace

void CElemListBox::FollowUpgrade(CSubEnc* subenc) {
    const bool followed =
        std::any_of(upgrades_.begin(), upgrades_.end(),
                    [&](const FollowedUpgrade& u) { return u.subenc.get() == subenc; });
    if (!followed) {
        RetainSubEnc(subenc);
        upgrades_.push_back(
            {Ref<CSubEnc>::Adopt(subenc), SubEncInfo(subenc).firmware_revision, nullptr, {}});
    }
    if (subenc == current_.get()) ShowUpgradeState(subenc->upgrade_state);
    if (!upgrade_timer_.isActive()) upgrade_timer_.start(kUpgradeProgressMs);
}

// One look at an upgrade; true once its end is logged. The enclosure took
// both images when the thread ends with -22 (or lost its agent during the
// activation, -24): only the revision it reports when read again tells
// whether it runs the new firmware.
bool CElemListBox::StepUpgrade(FollowedUpgrade& upgrade) {
    CSubEnc* subenc = upgrade.subenc.get();
    const QString name = QString::fromStdU16String(EnclosureDisplayName(subenc));
    if (!upgrade.read_back) {
        const int state = subenc->upgrade_state;
        if (subenc == current_.get()) ShowUpgradeState(state);
        if (UpgradeRunning(state)) return false;
        if (state != kUpgradeCompleted && state != kActivationUnknown) {
            AddOperatorEvent(kEventWarning, subenc, 20021, {name});
            return true;
        }
        subenc->upgrade_state = kUpgradeIdle;
        upgrade.read_back = std::make_unique<FirmwareReadBack>(
            subenc->dev->domain, subenc->dev->Identifier(), subenc->id, upgrade.revision_before);
        upgrade.read_back_deadline = std::chrono::steady_clock::now() + kReadBackLimit;
    }
    if (subenc == current_.get()) ShowUpgradeState(kUpgradeReadingBack);
    // The firmware box ends empty on success, and says the upgrade failed otherwise.
    int shown = kGeneralFailure;
    switch (upgrade.read_back->Step()) {
        case FirmwareReadBack::Outcome::kChanged:
            AddOperatorEvent(kEventInformation, subenc, 20020, {name});
            shown = kUpgradeCompleted;
            break;
        case FirmwareReadBack::Outcome::kUnchanged:
            AddOperatorEvent(kEventWarning, subenc, kStillOldRevision,
                             {name, QString::fromStdString(upgrade.read_back->revision())});
            break;
        case FirmwareReadBack::Outcome::kPending:
            if (std::chrono::steady_clock::now() < upgrade.read_back_deadline) return false;
            AddOperatorEvent(kEventWarning, subenc, kRevisionUnknown, {name});
            break;
    }
    if (subenc == current_.get()) ShowUpgradeState(shown);
    return true;
}

void CElemListBox::UpgradeTick() {
    for (size_t i = 0; i < upgrades_.size();) {
        if (StepUpgrade(upgrades_[i]))
            upgrades_.erase(upgrades_.begin() + static_cast<std::ptrdiff_t>(i));
        else
            ++i;
    }
    if (upgrades_.empty()) upgrade_timer_.stop();
}

// The firmware box shows the progress, or how the upgrade ended.
void CElemListBox::ShowUpgradeState(int state) {
    SystemInfoPanel& panel = *panel_;
    QString text;
    if (state == kUpgradeReadingBack) {
        text = LoadQString(kReadingBackText);
    } else if (state >= kUpgradeActivating) {
        text = LoadQString(168);
    } else if (state >= 0) {
        text = QString("%1%").arg(state);
    } else if (const int id = UpgradeResultText(state)) {
        text = LoadQString(id);
    }
    if (state == panel.shown_upgrade_state && text == panel.upgrade_text) return;
    panel.shown_upgrade_state = state;
    panel.upgrade_text = text;
    // A completed upgrade empties the box; after a failure the package
    // stays there to be tried again, the reason beside it.
    if (state == kUpgradeCompleted) panel.firmware_path.clear();
    SetFirmwarePath(panel.firmware_path);
}

}  // namespace halvorin
