// The System Information panel: the table of its label/value rows and what
// the list keeps of it between paints: the column layout, the rectangles of
// its hot spots (in the body row's coordinates), the name editor and the text
// of the firmware box.
#pragma once

#include <QRect>
#include <QString>
#include <cstdint>
#include <span>

#include "enclosure/model/sub_enc.h"
#include "enclosure/ops/firmware_upgrade.h"
#include "views/name_editor.h"

namespace halvorin {

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

// The firmware box's text for an upgrade that ended with `state`: its
// string id (cleared on success: 0).
int UpgradeResultText(int state);

struct SystemInfoPanel {
    int label_width = 0, value_width = 0, columns = 1, height = 64, title_height = 20;
    QRect change, mute, uid_led, browse, upgrade, restart, shutdown, firmware_box;
    // Where Upgrade is painted: clickable (`upgrade`) only with a package chosen.
    QRect upgrade_button;
    QString firmware_path;  // the chosen package; it stays when an upgrade fails
    QString upgrade_text;   // the upgrade's progress, or why it did not succeed
    QString last_folder;    // where the file dialog opened last
    int shown_upgrade_state = kUpgradeIdle;
    NameEditor editor;

    QRect SpotRect(uint32_t spot) const;
    void ForgetSpots() {
        change = mute = uid_led = browse = upgrade = upgrade_button = restart = shutdown = {};
    }
};

}  // namespace halvorin
