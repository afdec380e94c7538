// CElemListBox: the owner-drawn list that fills the right pane. In
// enclosure mode it shows one sub-enclosure as collapsible element groups
// (the System Information group first); in overview mode one row per
// sub-enclosure of every managed host. Rows are CItemData; the list keeps no
// copy of the model beyond what each row last painted, compares that with
// the model once a second and repaints only the rows that differ.
//
// Everything runs on the user-interface thread, which also runs the poll
// step: the model is read directly. The list holds a counted reference on
// the sub-enclosure it shows and every row on the object it shows.
#pragma once

#include <QFont>
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "enclosure/model/model_ref.h"
#include "enclosure/ops/control_operations.h"
#include "enclosure/ops/firmware_upgrade.h"
#include "shell/theme/image_list.h"
#include "shell/widgets/painted_list.h"
#include "views/action_host.h"
#include "views/element_group_table.h"
#include "views/item_data.h"
#include "views/overview_rows.h"

class QMenu;

namespace halvorin {

class DomainRegistry;
class NameEditor;
class SystemInfoPanel;
class ZoningEditor;
struct ElementListLook;
struct ZoningLayout;

class CElemListBox : public CPaintedList, private ActionHost {
    Q_OBJECT

  public:
    static constexpr int kQuickJumpCommand = 250;
    static constexpr int kRefreshMs = 1000;
    static constexpr int kOverviewMs = 3000;
    // PendingChanges bits: edits the enclosure does not have yet.
    static constexpr int kZoningEdited = 0x01;
    static constexpr int kNameEdited = 0x02;

    // `registry` lists the hosts of overview mode; it must outlive the list.
    explicit CElemListBox(DomainRegistry* registry, QWidget* parent = nullptr);
    ~CElemListBox() override;

    // Shows one sub-enclosure (enclosure mode) or, with none, the overview.
    // Leaving an enclosure with edits it does not have yet asks first
    // whether to drop them; No applies them. While an operation waits the
    // change is put off until it has ended.
    void ShowSubEnc(CSubEnc* subenc);
    CSubEnc* CurrentSubEnc() const { return current_.get(); }
    bool ShowsWelcome() const { return show_welcome_; }

    // The one-second pass: compares every row with the model and repaints
    // the visible rows that differ. Returns the number of rows that changed.
    int RefreshPass();
    // False while the enclosure shown is not current (its host does not
    // answer, or it is gone): its last values are washed out and every
    // action is refused with the reason.
    bool ShowsCurrentValues() const;
    // Rebuilds the overview rows from the hosts (every 3 s in overview mode).
    void BuildOverviewRows();
    // The dashboard's column widths for the list's width now.
    const OverviewLayout& Overview() const;
    // Opens the quick-jump menu of the groups in the list (command 250).
    void OpenQuickJump();
    QMenu* QuickJumpMenu() const { return quick_jump_.get(); }
    void JumpToRow(int row);

    // The rows as the list shows them.
    int RowCount() const override { return int(rows_.size()); }
    int RowHeight(int row) const override;
    CItemData* Row(int row) const;
    uint32_t HitTest(QPoint at);  // the hit code at a point
    // What the row says, for tool tips and screen readers.
    QString RowText(int row) const override;
    QString RowDescription(int row) const override;
    void DescribeRowState(int row, QAccessible::State& state) const override;
    QString ToolTipText(uint32_t hit_code) const;
    // Enter and Space: a group opens or closes, an overview row opens its
    // sub-enclosure, a slot's identify switch flips.
    bool RowHasAction(int row) const override;
    void ActivateRow(int row) override;
    // The System Information panel's buttons and switches, pressed as a click would.
    std::vector<RowControl> RowControls(int row) const override;
    void PressRowControl(int row, uint32_t spot) override;
    void ToggleGroup(int row);
    int ContentWidth() const;

    // ---- the System Information panel and the zoning editor ----
    const SystemInfoPanel& Panel() const { return *panel_; }
    NameEditor& Editor();
    void SetFirmwarePath(const QString& path);
    // A panel hot spot's rectangle in list coordinates (empty when it has none now).
    QRect PanelSpotRect(uint32_t spot) const;
    const ZoningLayout& Zoning() const;
    // A zoning row's cell, or a zoning head's button, in list coordinates.
    QRect ZoneCellRect(int row, int cell) const;
    QRect ZoningButtonRect(int row, uint32_t spot) const;
    // kZoningEdited and kNameEdited, as the rows hold edits now.
    int PendingChanges() const;
    // Before the list is left for another enclosure or the dashboard: with
    // edits not applied, the operator drops them (Yes), has them applied
    // first (No) or stays (Cancel, false).
    bool MayLeave();
    // How upgrades started here run (tests and measurements shorten the wait
    // for the enclosure to activate its new firmware).
    void SetUpgradeOptions(const UpgradeOptions& options);
    // Firmware upgrades started here, followed until they end.
    int FollowedUpgrades() const;

    // Rows painted since the last call (for tests and measurements).
    std::set<int> TakePaintedRows() { return std::exchange(painted_rows_, {}); }

    // ---- what the row kinds (views/rows/) use while they paint ----
    using Look = ElementListLook;  // elem_list_look.h
    const Look& RowLook() const { return *look_; }
    // The hit code under the pointer (kNothingHot when none).
    uint32_t HotCode() const { return hit_code_; }
    // The hot spot under the pointer when it is in `row`, else HS_NONE.
    uint32_t HotSpotIn(const CItemData& row) const;
    QString GroupTitle(const CItemData& header) const;
    QString SesSlotText(const CSesElem& element) const;
    QRect SlotSwitchRect(const QRect& row_rect) const;
    bool ShowsSlotDetails(const CItemData& row) const;
    // What every element row shows (name, failure badge, separator); the
    // height its name took.
    int PaintCommonPart(QPainter& p, const QRect& r, CItemData& row, int inset);
    // The System Information panel's body, which also places its controls.
    void PaintPanelBody(QPainter& p, const QRect& r, const CItemData& row);

  signals:
    // The operator clicked an overview row: open that sub-enclosure.
    void OpenSubEnc(CSubEnc* subenc);
    // A slot operation ended with a negative result code.
    void OperationFailed(int result);
    // The operator renamed this sub-enclosure.
    void SubEncRenamed(CSubEnc* subenc);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void PaintRow(QPainter& p, int row, const QRect& r) override;
    void KeyboardMoved(int row) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    bool event(QEvent* event) override;

  private:
    // Building and clearing.
    void BuildElementRows();
    void AddGroup(int group_index, uint8_t type_desc_index);
    void ClearElementRows();
    void ClearOverviewRows();
    void InsertRows(int at, const std::vector<CItemData*>& rows);
    void RemoveRows(int from, int count);
    bool ConfigurationChanged() const;
    void RebuildKeepingView();
    void FollowPixelRatio();

    // Refresh.
    int RefreshGroup(CItemData& header);
    int RefreshOverview();

    // Input.
    void UpdateHot(QPoint at);
    void ClearHot();
    uint32_t RowHitCode(int row, QPoint in_row) const;
    void ClickRow(int row, uint32_t spot, QPoint in_row);
    bool EditorHasKeys() const;
    bool LeavesEditor(const QKeyEvent& event) const;
    void ClickSlotLed(CItemData& row);
    void ClickNameField(QPoint in_row);
    QRect HotSpotRect(uint32_t code) const;
    void EndOfModalWait();
    bool AskToKeepEdits(bool can_stay);
    void LayOutPanelAndZoning();

    // What the panel and the zoning editor ask of the list (ActionHost).
    CSubEnc* Subject() const override { return current_.get(); }
    bool Waiting() const override { return modal_depth_ > 0; }
    int RunOperation(int text_id, const std::function<int(OperationCallback)>& start) override;
    bool RunDialog(QDialog& dialog) override;
    void Refresh() override { RefreshPass(); }
    void RepaintDirtyRows() override;
    void RepaintPanel() override;
    void SubjectRenamed(CSubEnc* subenc) override { emit SubEncRenamed(subenc); }
    QWidget& Window() override { return *this; }

    // Painting helpers.
    void PaintStaleBanner(QPainter& p);
    void PaintWelcome(QPainter& p);
    QString ElementTitle(const CItemData& row) const;

    DomainRegistry* const registry_;
    std::unique_ptr<Look> look_;
    std::unique_ptr<SystemInfoPanel> panel_;
    std::unique_ptr<ZoningEditor> zoning_;
    std::optional<Ref<CSubEnc>> deferred_subject_;  // ShowSubEnc put off by a modal wait
    std::unique_ptr<QMenu> quick_jump_;

    Ref<CSubEnc> current_;
    bool show_welcome_ = true;
    bool shown_current_ = true;                      // whether the last paint showed live values
    std::vector<std::unique_ptr<CItemData>> items_;  // panel rows and group headers, in order
    std::vector<CItemData*> rows_;                   // what the list shows, top to bottom
    std::unordered_map<CSubEnc*, std::unique_ptr<CItemData>> overview_;
    std::unique_ptr<CItemData> overview_header_;
    size_t built_element_count_ = 0;

    uint32_t hit_code_ = kNothingHot;
    QRect hot_rect_;
    int modal_depth_ = 0;  // a row operation waits in a modal loop
    bool rebuild_pending_ = false;
    std::set<int> painted_rows_;
    mutable OverviewLayout overview_layout_;

    QTimer refresh_timer_;
    QTimer overview_timer_;
};

}  // namespace halvorin
