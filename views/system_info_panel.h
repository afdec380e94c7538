// The System Information panel: the table of its label/value rows, and the
// panel itself.
#pragma once

#include <QRect>
#include <QString>
#include <cstdint>
#include <span>

#include "enclosure/model/sub_enc.h"
#include "enclosure/ops/firmware_upgrade.h"
#include "enclosure/ops/operator_action.h"
#include "shell/widgets/painted_list.h"
#include "views/name_editor.h"
#include "views/upgrade_follower.h"

class QPainter;

namespace halvorin {

class ActionHost;
struct CItemData;
struct ElementListLook;

enum class PanelValue {
    kSystemName,
    kVendor,
    kProduct,
    kFirmwareRevision,
    kWwn,
    kBuzzer,
    kUidLed,
    kFirmwareBox,
    kLineBreak,
    kRestart,
    kShutdown
};

struct SystemInfoRow {
    int label_id;  // 0: no label
    bool full_line;
    PanelValue value;
    uint16_t needs_capability;  // shown only with this capability bit (0: always)
    uint16_t hidden_by;         // not shown with this capability bit
};

std::span<const SystemInfoRow> SystemInfoRows();
bool RowShown(const SystemInfoRow& row, uint16_t capabilities);

inline constexpr int kPanelColumnGap = 54;
inline constexpr int kPanelLineHeight = 40;
inline constexpr int kPanelMaxColumns = 3;
inline constexpr int kPanelButtonHeight = 24;

// How many label/value columns fit in `usable` px.
int PanelColumns(int usable, int column_width);

// Shown in the firmware box after the activation, while the enclosure is
// read again; never an upgrade's own state.
inline constexpr int kUpgradeReadingBack = kUpgradeActivating + 1;
// 0..101: an upgrade downloads, activates or is being read back.
bool UpgradeRunning(int state);

// The System Information group's body: the enclosure's identity, the name
// field, the buzzer and UID LED switches, the firmware box and the restart
// and shutdown buttons, and the operations they start. It keeps its layout
// and the rectangles of its controls (in the body row's coordinates) between
// paints; painting places them.
class SystemInfoPanel {
  public:
    explicit SystemInfoPanel(ActionHost& host);
    ~SystemInfoPanel();

    // Another enclosure is shown (or none): the name field shows its name,
    // the firmware box is empty and follows an upgrade already running.
    void Show(CSubEnc* subenc);
    // Lays the panel out for a body `usable` px wide.
    void Layout(const ElementListLook& look, int usable);
    // Paints the body and places the controls; `hot` is the control under
    // the pointer, `caret` whether the name field shows its caret.
    void Paint(QPainter& p, const QRect& r, const CItemData& row, const ElementListLook& look,
               int right_limit, uint32_t hot, bool caret);

    int Height() const { return height_; }
    int Columns() const { return columns_; }
    // A control's rectangle in the body row (empty when it is not painted or inert).
    QRect SpotRect(uint32_t spot) const;
    uint32_t HitCode(QPoint in_row) const;
    // The controls as the keyboard and screen readers reach them.
    std::vector<RowControl> Controls(const CItemData& row) const;
    // A click on a control (the name field's own clicks excepted).
    void Click(uint32_t spot);

    NameEditor& Editor() { return editor_; }
    const NameEditor& Editor() const { return editor_; }
    // Sends the name field's text as the system name: 0 when there was
    // nothing to do or the operator declined, the operation's result otherwise.
    int ChangeSystemName(bool confirm);

    const QString& FirmwarePath() const { return firmware_path_; }
    void SetFirmwarePath(const QString& path);
    // The upgrade's progress, or why it did not succeed.
    const QString& UpgradeText() const { return upgrade_text_; }
    bool Upgrading() const { return UpgradeRunning(shown_upgrade_state_); }
    // How upgrades started here run (tests and measurements shorten the wait
    // for the enclosure to activate its new firmware).
    void SetUpgradeOptions(const UpgradeOptions& options) { upgrade_options_ = options; }
    int FollowedUpgrades() const { return upgrades_.Count(); }

  private:
    void ForgetSpots();
    void ShowUpgradeState(int state);
    void MuteBuzzer();
    void ToggleUidLed();
    void StopOrRestart(uint8_t command);
    void BrowseFirmware();
    void UpgradeFirmware();

    ActionHost& host_;
    int label_width_ = 0, value_width_ = 0, columns_ = 1, height_ = 64, title_height_ = 20;
    QRect change_, mute_, uid_led_, browse_, upgrade_, restart_, shutdown_, firmware_box_;
    // Where Upgrade is painted: clickable (`upgrade_`) only with a package chosen.
    QRect upgrade_button_;
    QString firmware_path_;  // the chosen package; it stays when an upgrade fails
    QString upgrade_text_;
    QString last_folder_;  // where the file dialog opened last
    int shown_upgrade_state_ = kUpgradeIdle;
    NameEditor editor_;
    UpgradeFollower upgrades_;
    UpgradeOptions upgrade_options_;
};

}  // namespace halvorin
