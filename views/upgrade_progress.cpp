// Following firmware upgrades: every 200 ms while one started here runs,
// the firmware box of the enclosure on screen shows its progress, and each
// upgrade that has ended is logged, whether or not its enclosure is on
// screen at that moment, so that no ending goes unrecorded.
#include <algorithm>

#include "enclosure/model/display_name.h"
#include "enclosure/poll/event_rule.h"
#include "shell/events/operator_event.h"
#include "shell/theme/string_resources.h"
#include "views/elem_list_box.h"
#include "views/system_info_panel.h"

namespace halvorin {

void CElemListBox::FollowUpgrade(CSubEnc* subenc) {
    const bool followed = std::any_of(upgrades_.begin(), upgrades_.end(),
                                      [&](const Ref<CSubEnc>& s) { return s.get() == subenc; });
    if (!followed) {
        RetainSubEnc(subenc);
        upgrades_.push_back(Ref<CSubEnc>::Adopt(subenc));
    }
    if (subenc == current_.get()) ShowUpgradeState(subenc->upgrade_state);
    if (!upgrade_timer_.isActive()) upgrade_timer_.start(kUpgradeProgressMs);
}

void CElemListBox::UpgradeTick() {
    std::vector<Ref<CSubEnc>> following = upgrades_;
    for (const Ref<CSubEnc>& subenc : following) {
        const int state = subenc->upgrade_state;
        if (!UpgradeRunning(state)) {
            const QString name = QString::fromStdU16String(EnclosureDisplayName(subenc.get()));
            if (state == kUpgradeCompleted) {
                subenc->upgrade_state = kUpgradeIdle;
                AddOperatorEvent(kEventInformation, subenc.get(), 20020, {name});
            } else {
                AddOperatorEvent(kEventWarning, subenc.get(), 20021, {name});
            }
            std::erase_if(upgrades_,
                          [&](const Ref<CSubEnc>& s) { return s.get() == subenc.get(); });
        }
        if (subenc.get() == current_.get()) ShowUpgradeState(state);
    }
    if (upgrades_.empty()) upgrade_timer_.stop();
}

// The firmware box shows the progress, or how the upgrade ended.
void CElemListBox::ShowUpgradeState(int state) {
    SystemInfoPanel& panel = *panel_;
    QString text;
    if (state >= kUpgradeActivating) {
        text = LoadQString(168);
    } else if (state >= 0) {
        text = QString("%1%").arg(state);
    } else if (const int id = UpgradeResultText(state)) {
        text = LoadQString(id);
    }
    if (state == panel.shown_upgrade_state && text == panel.firmware_path) return;
    panel.shown_upgrade_state = state;
    SetFirmwarePath(text);
}

}  // namespace halvorin
