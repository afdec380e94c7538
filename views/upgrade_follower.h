// UpgradeFollower: follows the firmware upgrades started or found in the
// element list until their end is known. Every 200 ms while one runs it
// tells the list what the enclosure's firmware box should show, and it logs
// each ending, whether or not its enclosure is on screen at that moment, so
// that no ending goes unrecorded. Success is logged only once the
// enclosure, read again, reports another revision.
//
// Interface thread only (it reads the model the poll step writes there).
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "enclosure/model/model_ref.h"
#include "enclosure/ops/firmware_read_back.h"

namespace halvorin {

class CSubEnc;

class UpgradeFollower : public QObject {
  public:
    static constexpr int kTickMs = 200;
    // Called with an enclosure followed and what its firmware box should show
    // now: a percentage, kUpgradeActivating, kUpgradeReadingBack, or how it
    // ended (kUpgradeCompleted or a negative result).
    using ShowState = std::function<void(CSubEnc* subenc, int state)>;

    explicit UpgradeFollower(ShowState show, QObject* parent = nullptr);
    ~UpgradeFollower() override;

    // Follows the upgrade of `subenc` (once, however often it is asked).
    void Follow(CSubEnc* subenc);
    int Count() const { return int(upgrades_.size()); }

  private:
    // An upgrade started or found here, followed until its end is known:
    // after the activation, until the enclosure is read back.
    struct Followed {
        Ref<CSubEnc> subenc;
        std::string revision_before;
        std::unique_ptr<FirmwareReadBack> read_back;  // once the thread has ended
        std::chrono::steady_clock::time_point read_back_deadline;
    };

    void Tick();
    bool Step(Followed& upgrade);

    ShowState show_;
    std::vector<Followed> upgrades_;
    QTimer timer_;
};

}  // namespace halvorin
