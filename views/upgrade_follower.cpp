#include "views/upgrade_follower.h"

#include <algorithm>

#include "enclosure/model/display_name.h"
#include "enclosure/model/ses_dev.h"
#include "enclosure/model/ses_domain.h"
#include "enclosure/ops/firmware_upgrade.h"
#include "enclosure/poll/event_rule.h"
#include "shell/events/operator_event.h"
#include "shell/theme/string_resources.h"
#include "views/system_info_panel.h"

namespace halvorin {

namespace {

// How long an enclosure is waited for after the activation: through its
// restart, and through its agent's return when the connection was lost.
constexpr std::chrono::seconds kReadBackLimit{180};
constexpr int kStillOldRevision = 298;
constexpr int kRevisionUnknown = 299;

}  // namespace

UpgradeFollower::UpgradeFollower(ShowState show, QObject* parent)
    : QObject(parent), show_(std::move(show)) {
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
}

UpgradeFollower::~UpgradeFollower() = default;

void UpgradeFollower::Follow(CSubEnc* subenc) {
    const bool followed = std::any_of(upgrades_.begin(), upgrades_.end(),
                                      [&](const Followed& u) { return u.subenc.get() == subenc; });
    if (!followed) {
        upgrades_.push_back(
            {Ref<CSubEnc>::Share(subenc), SubEncInfo(subenc).firmware_revision, nullptr, {}});
    }
    show_(subenc, subenc->upgrade_state);
    if (!timer_.isActive()) timer_.start(kTickMs);
}

// One look at an upgrade; true once its end is logged. The enclosure took
// both images when the thread ends with -22 (or lost its agent during the
// activation, -24): only the revision it reports when read again tells
// whether it runs the new firmware.
bool UpgradeFollower::Step(Followed& upgrade) {
    CSubEnc* subenc = upgrade.subenc.get();
    const QString name = QString::fromStdU16String(EnclosureDisplayName(subenc));
    if (!upgrade.read_back) {
        const int state = subenc->upgrade_state;
        show_(subenc, state);
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
    show_(subenc, kUpgradeReadingBack);
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
    show_(subenc, shown);
    return true;
}

void UpgradeFollower::Tick() {
    for (size_t i = 0; i < upgrades_.size();) {
        if (Step(upgrades_[i]))
            upgrades_.erase(upgrades_.begin() + static_cast<std::ptrdiff_t>(i));
        else
            ++i;
    }
    if (upgrades_.empty()) timer_.stop();
}

}  // namespace halvorin
