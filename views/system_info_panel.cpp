// The System Information panel: layout, painting and hot spots of its body
// row. The operator's actions on it are in enclosure_actions.cpp.
#include "views/system_info_panel.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

#include "enclosure/model/sub_enc.h"
#include "shell/theme/shared_look.h"
#include "shell/theme/string_resources.h"
#include "views/action_host.h"
#include "views/elem_list_look.h"
#include "views/item_data.h"

namespace halvorin {

namespace {

constexpr int kPanelLeft = 15;
constexpr int kPanelTop = 8;
constexpr int kButtonGap = 18;  // between a box and its button
constexpr int kNameLabel = 3;
constexpr int kChangeText = 12;
constexpr int kUpgradeText = 11;
constexpr int kRestartText = 14;
constexpr int kShutdownText = 16;
constexpr int kReadingBackText = 300;
const QColor kProgressFill(0xb5, 0xe6, 0x1d);
const QColor kPathText(0x7f, 0x7f, 0x7f);

const SystemInfoRow kRows[] = {
    {3, true, PanelValue::kSystemName, 0, 0},
    {4, false, PanelValue::kVendor, 0, 0},
    {5, false, PanelValue::kProduct, 0, 0},
    {6, false, PanelValue::kFirmwareRevision, 0, 0},
    {7, false, PanelValue::kWwn, 0, 0},
    {8, false, PanelValue::kBuzzer, 0, 0},
    {9, false, PanelValue::kUidLed, 0, 0},
    {10, true, PanelValue::kFirmwareBox, 0, kCapNoFirmwareUpgrade},
    {0, false, PanelValue::kLineBreak, 0, 0},
    {13, false, PanelValue::kRestart, kCapRestart, 0},
    {15, false, PanelValue::kShutdown, kCapShutdown, 0},
};

QString WwnText(const std::array<uint8_t, 8>& id) {
    QString text;
    for (uint8_t byte : id)
        text += QString::asprintf("%02X", byte);
    return text;
}

// Shortens a path from the left by whole folders, "..." in front, until it fits.
QString FitPath(const QString& path, const QFontMetrics& metrics, int width) {
    QString shown = path;
    QString rest = path;
    while (metrics.horizontalAdvance(shown) > width) {
        const qsizetype cut = rest.indexOf('/', rest.startsWith('/') ? 1 : 0);
        if (cut < 0) break;
        rest = rest.mid(cut);
        shown = "..." + rest;
        rest = rest.mid(1);
    }
    return shown;
}

}  // namespace

bool UpgradeRunning(int state) {
    return state >= 0 && state <= kUpgradeReadingBack;
}

std::span<const SystemInfoRow> SystemInfoRows() {
    return kRows;
}

bool RowShown(const SystemInfoRow& row, uint16_t capabilities) {
    if (row.needs_capability && !(capabilities & row.needs_capability)) return false;
    return !(capabilities & row.hidden_by);
}

int PanelColumns(int usable, int column_width) {
    if (column_width <= 0) return 1;
    const int extra = (usable - column_width) / (column_width + kPanelColumnGap);
    return std::clamp(1 + extra, 1, kPanelMaxColumns);
}

SystemInfoPanel::SystemInfoPanel(ActionHost& host)
    : host_(host), upgrades_([this](CSubEnc* subenc, int state) {
          if (subenc == host_.Subject()) ShowUpgradeState(state);
      }) {}

SystemInfoPanel::~SystemInfoPanel() = default;

void SystemInfoPanel::Show(CSubEnc* subenc) {
    firmware_path_.clear();
    upgrade_text_.clear();
    shown_upgrade_state_ = kUpgradeIdle;
    if (!subenc) return;
    editor_.Load(QString::fromStdString(SubEncInfo(subenc).system_name));
    if (UpgradeRunning(subenc->upgrade_state)) upgrades_.Follow(subenc);
}

QRect SystemInfoPanel::SpotRect(uint32_t spot) const {
    switch (spot) {
        case HS_NAME_EDIT:
            return editor_.Box();
        case HS_CHANGE_NAME:
            return change_;
        case HS_MUTE:
            return mute_;
        case HS_IDENT_LED:
            return uid_led_;
        case HS_BROWSE:
            return browse_;
        case HS_UPGRADE:
            return upgrade_;
        case HS_RESTART:
            return restart_;
        case HS_SHUTDOWN:
            return shutdown_;
        default:
            return {};
    }
}

void SystemInfoPanel::ForgetSpots() {
    change_ = mute_ = uid_led_ = browse_ = upgrade_ = upgrade_button_ = restart_ = shutdown_ = {};
}

// ---- layout ---------------------------------------------------------------------

void SystemInfoPanel::Layout(const ElementListLook& look, int usable) {
    const CSubEnc* subenc = host_.Subject();
    const QFontMetrics values(look.panel_value_font);
    int label_width = values.horizontalAdvance(LoadQString(10));
    for (const SystemInfoRow& row : SystemInfoRows()) {
        if (row.label_id)
            label_width =
                std::max(label_width, values.horizontalAdvance(LoadQString(row.label_id)));
    }
    label_width_ = label_width + 18;
    int value_width = 1;
    if (subenc) {
        const SubEncSummary info = SubEncInfo(subenc);
        for (const std::string* text : {&info.vendor, &info.product, &info.firmware_revision})
            value_width =
                std::max(value_width, values.horizontalAdvance(QString::fromStdString(*text)));
        value_width = std::max(value_width, values.horizontalAdvance(WwnText(info.logical_id)));
        // Whole pixels of a text that measures in fractions: the widest
        // value must never be the one that is cut.
        value_width += 2;
    }
    value_width_ = std::max(value_width, SharedImageList(5).cell_width());
    title_height_ = QFontMetrics(look.panel_label_font).height();

    columns_ = PanelColumns(usable - kPanelLeft, label_width_ + value_width_);
    const uint16_t capabilities = subenc ? subenc->capabilities : 0;
    int lines = 0;
    int column = 0;
    for (const SystemInfoRow& row : SystemInfoRows()) {
        if (!RowShown(row, capabilities)) continue;
        if (row.value == PanelValue::kLineBreak || (row.full_line && column != 0)) column = 0;
        if (row.value == PanelValue::kLineBreak) continue;
        if (column == 0) ++lines;
        ++column;
        if (column == columns_ || row.full_line) column = 0;
    }
    height_ = lines * std::max(title_height_, kPanelLineHeight) + 16;
}

// The columns the panel's rows are laid out in.
struct PanelGrid {
    int label_width, value_width, columns, title_height;
};

// Walks the shown rows of the panel in a body row `width` wide and hands
// each its label and value rectangles.
template <typename Visit>
void WalkPanel(const PanelGrid& panel, uint16_t capabilities, int right_limit, int bottom,
               Visit&& visit) {
    const int line = std::max(panel.title_height, kPanelLineHeight);
    int x = kPanelLeft;
    int y = kPanelTop;
    int column = 0;
    auto new_line = [&] {
        x = kPanelLeft;
        y += line;
        column = 0;
    };
    for (const SystemInfoRow& row : SystemInfoRows()) {
        if (!RowShown(row, capabilities)) continue;
        if (row.value == PanelValue::kLineBreak || (row.full_line && column != 0)) {
            if (column != 0) new_line();
            if (row.value == PanelValue::kLineBreak) continue;
        }
        if (y + panel.title_height > bottom) return;
        const int value_left = x + panel.label_width;
        const int value_right = row.full_line ? right_limit : value_left + panel.value_width;
        visit(row, QRect(x, y, panel.label_width, panel.title_height),
              QRect(value_left, y, std::max(0, value_right - value_left), panel.title_height));
        if (row.full_line || ++column == panel.columns) {
            new_line();
        } else {
            x += panel.label_width + panel.value_width + kPanelColumnGap;
        }
    }
}

// ---- painting -------------------------------------------------------------------

namespace {

// A button right-aligned in the value area: text width + 24 wide, 24 high.
QRect ButtonRect(const QRect& value, const QFontMetrics& metrics, const QString& text) {
    const int width = metrics.horizontalAdvance(text) + 24;
    return QRect(value.right() + 1 - width, value.center().y() - kPanelButtonHeight / 2 + 1, width,
                 kPanelButtonHeight);
}

void PaintButton(QPainter& p, const QRect& r, const QString& text, const QColor& fill,
                 const QColor& outline) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(outline);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 3.5, 3.5);
    p.setPen(Qt::white);
    p.drawText(r, Qt::AlignCenter | Qt::TextSingleLine, text);
    p.restore();
}

}  // namespace

// Paints the panel and places its controls.
void SystemInfoPanel::Paint(QPainter& p, const QRect& r, const CItemData& row,
                            const ElementListLook& look, int right_limit, uint32_t hot,
                            bool caret) {
    const CSubEnc* subenc = host_.Subject();
    if (!subenc) return;
    const SubEncSummary info = SubEncInfo(subenc);
    const uint16_t capabilities = subenc->capabilities;
    const int state = shown_upgrade_state_;
    const bool upgrading = UpgradeRunning(state);
    const QFontMetrics values(look.panel_value_font);
    ForgetSpots();

    auto label = [&](const SystemInfoRow& info_row, const QRect& box) {
        if (!info_row.label_id) return;
        p.setFont(look.panel_label_font);
        p.setPen(look.name_text);
        p.drawText(box, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                   LoadQString(info_row.label_id));
    };
    // Identity (vendor, product, revision, WWN) is never cut short: two
    // enclosures that differ only at the end must not look alike.
    auto text_value = [&](const QRect& box, const QString& text) {
        p.setFont(look.panel_value_font);
        p.setPen(look.name_text);
        const QRect whole(
            box.topLeft(),
            QSize(std::max(box.width(), values.horizontalAdvance(text) + 1), box.height()));
        p.drawText(whole, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    };
    auto button = [&](const QRect& value, int text_id, uint32_t spot, QRect& keep) {
        const QString text = LoadQString(text_id);
        const QRect rect = ButtonRect(value, values, text);
        p.setFont(look.panel_value_font);
        PaintButton(p, rect, text, hot == spot ? look.button_hot : look.button_fill,
                    look.button_outline);
        if (!upgrading) keep = rect;
        return rect;
    };
    auto switch_image = [&](const QRect& value, bool on, bool clickable, QRect& keep) {
        const CImageList& switches = SharedImageList(5);
        const QRect rect(value.right() + 1 - switches.cell_width(), value.top(),
                         switches.cell_width(), switches.cell_height());
        DrawSwitch(p, rect.topLeft(), on);
        if (clickable && !upgrading) keep = rect;
    };

    WalkPanel(
        PanelGrid{label_width_, value_width_, columns_, title_height_}, capabilities, right_limit,
        r.height(), [&](const SystemInfoRow& info_row, const QRect& label_box, const QRect& value) {
            switch (info_row.value) {
                case PanelValue::kSystemName: {
                    const QRect change = button(value, kChangeText, HS_CHANGE_NAME, change_);
                    const QRect box(value.left(), change.top(),
                                    std::max(0, change.left() - kButtonGap - value.left()),
                                    kPanelButtonHeight);
                    editor_.Place(box, look.panel_value_font);
                    editor_.Paint(p, look.editor_outline, look.row_background, look.name_text,
                                  caret);
                    break;
                }
                case PanelValue::kVendor:
                    text_value(value, QString::fromStdString(info.vendor));
                    break;
                case PanelValue::kProduct:
                    text_value(value, QString::fromStdString(info.product));
                    break;
                case PanelValue::kFirmwareRevision:
                    text_value(value, QString::fromStdString(info.firmware_revision));
                    break;
                case PanelValue::kWwn:
                    text_value(value, WwnText(info.logical_id));
                    break;
                case PanelValue::kBuzzer:
                    switch_image(
                        value, row.shown_state & kIndicatorBuzzer,
                        (capabilities & kCapBuzzerMute) && (row.shown_state & kIndicatorBuzzer),
                        mute_);
                    break;
                case PanelValue::kUidLed:
                    switch_image(value, row.shown_state & kIndicatorUidLed,
                                 capabilities & kCapIdentLedControllable, uid_led_);
                    break;
                case PanelValue::kFirmwareBox: {
                    const QRect upgrade = button(value, kUpgradeText, HS_UPGRADE, upgrade_);
                    upgrade_button_ = upgrading ? QRect() : upgrade;
                    if (firmware_path_.isEmpty() || upgrading) upgrade_ = {};
                    firmware_box_ = QRect(value.left(), upgrade.top(),
                                          std::max(0, upgrade.left() - kButtonGap - value.left()),
                                          kPanelButtonHeight);
                    const QRect& box = firmware_box_;
                    p.save();
                    p.setRenderHint(QPainter::Antialiasing);
                    p.setPen(look.editor_outline);
                    p.setBrush(Qt::white);
                    p.drawRoundedRect(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
                    p.restore();
                    p.setFont(look.panel_value_font);
                    if (upgrading) {
                        const QRect inner = box.adjusted(1, 1, -1, -1);
                        const int done = std::min(inner.width(), inner.width() * state / 100);
                        p.fillRect(QRect(inner.topLeft(), QSize(done, inner.height())),
                                   kProgressFill);
                        p.setPen(Qt::black);
                        p.drawText(inner, Qt::AlignCenter | Qt::TextSingleLine, upgrade_text_);
                    } else {
                        const CImageList& icons = look.browse_icons;
                        const QRect icon(box.right() - 3 - icons.cell_width(),
                                         box.center().y() - icons.cell_height() / 2 + 1,
                                         icons.cell_width(), icons.cell_height());
                        icons.Draw(p, hot == HS_BROWSE ? 1 : 0, icon.topLeft());
                        browse_ = icon;
                        QRect text = box.adjusted(6, 3, -(icons.cell_width() + 6), -3);
                        if (!upgrade_text_.isEmpty()) {
                            // Why the last upgrade failed, at the right; the path keeps the rest.
                            const int width =
                                std::min(values.horizontalAdvance(upgrade_text_), text.width() / 2);
                            p.setPen(look.condition_fail);
                            p.drawText(
                                QRect(text.right() - width, text.top(), width, text.height()),
                                Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine,
                                values.elidedText(upgrade_text_, Qt::ElideRight, width));
                            text.setRight(text.right() - width - 12);
                        }
                        p.setPen(kPathText);
                        p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                                   FitPath(firmware_path_, values, text.width()));
                    }
                    break;
                }
                case PanelValue::kRestart:
                    button(value, kRestartText, HS_RESTART, restart_);
                    break;
                case PanelValue::kShutdown:
                    button(value, kShutdownText, HS_SHUTDOWN, shutdown_);
                    break;
                case PanelValue::kLineBreak:
                    return;
            }
            label(info_row, label_box);
        });
    p.setPen(look.separator);
    p.drawLine(0, r.height() - 1, r.width() - 1, r.height() - 1);
}

// The firmware box shows the progress, or how the upgrade ended.
void SystemInfoPanel::ShowUpgradeState(int state) {
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
    if (state == shown_upgrade_state_ && text == upgrade_text_) return;
    shown_upgrade_state_ = state;
    upgrade_text_ = text;
    // A completed upgrade empties the box; after a failure the package
    // stays there to be tried again, the reason beside it.
    if (state == kUpgradeCompleted) firmware_path_.clear();
    host_.RepaintPanel();
}

// ---- hot spots ------------------------------------------------------------------

uint32_t SystemInfoPanel::HitCode(QPoint in_row) const {
    if (!host_.Subject() || Upgrading()) return HS_NONE;
    for (uint32_t spot :
         {HS_CHANGE_NAME, HS_MUTE, HS_IDENT_LED, HS_BROWSE, HS_UPGRADE, HS_RESTART, HS_SHUTDOWN}) {
        if (SpotRect(spot).contains(in_row)) return spot | kClickable;
    }
    if (editor_.Box().contains(in_row)) return HS_NAME_EDIT;
    return HS_NONE;
}

void SystemInfoPanel::SetFirmwarePath(const QString& path) {
    // Another package: the last upgrade's reason no longer belongs to it.
    if (path != firmware_path_ && !Upgrading()) upgrade_text_.clear();
    firmware_path_ = path;
    host_.RepaintPanel();
}

// The panel's controls as the keyboard and screen readers reach them: its
// buttons by their texts, the switches and the folder button by their tool
// tips; only those painted now.
std::vector<RowControl> SystemInfoPanel::Controls(const CItemData& row) const {
    const struct {
        uint32_t spot;
        int text_id;
        QAccessible::Role role;
        uint32_t state_bit;  // a switch's
    } kControls[] = {
        {HS_NAME_EDIT, kNameLabel, QAccessible::EditableText, 0},
        {HS_CHANGE_NAME, kChangeText, QAccessible::Button, 0},
        {HS_MUTE, 115, QAccessible::CheckBox, kIndicatorBuzzer},
        {HS_IDENT_LED, 120, QAccessible::CheckBox, kIndicatorUidLed},
        {HS_BROWSE, 116, QAccessible::Button, 0},
        {HS_UPGRADE, kUpgradeText, QAccessible::Button, 0},
        {HS_RESTART, kRestartText, QAccessible::Button, 0},
        {HS_SHUTDOWN, kShutdownText, QAccessible::Button, 0},
    };
    std::vector<RowControl> controls;
    for (const auto& control : kControls) {
        // Upgrade is there, if inert, before a package is chosen.
        const bool upgrade = control.spot == HS_UPGRADE;
        const QRect spot = upgrade ? upgrade_button_ : SpotRect(control.spot);
        if (spot.isEmpty()) continue;
        QString name = LoadQString(control.text_id);
        if (name.endsWith(':')) name.chop(1);
        controls.push_back({control.spot, control.role, name, spot});
        if (control.state_bit) controls.back().checked = (row.shown_state & control.state_bit) != 0;
        if (control.spot == HS_NAME_EDIT) controls.back().description = editor_.Text();
        if (upgrade) {
            controls.back().enabled = !upgrade_.isEmpty();
            controls.back().description = LoadQString(117);
        }
    }
    return controls;
}

}  // namespace halvorin
