// The element list as the host of the System Information panel and the
// zoning editor: their places in list coordinates, the edits they hold, and
// the modal waits and repaints they ask for.
#include <QDialog>
#include <QPainter>
#include <algorithm>

#include "views/elem_list_box.h"
#include "views/elem_list_look.h"
#include "views/modal_operation.h"
#include "views/system_info_panel.h"
#include "views/zoning_editor.h"

namespace halvorin {

void CElemListBox::PaintPanelBody(QPainter& p, const QRect& r, const CItemData& row) {
    const bool caret = hasFocus() && EditorHasKeys();
    panel_->Paint(p, r, row, *look_, std::min(r.width() - 12, ContentWidth()), HotSpotIn(row),
                  caret);
}

QRect CElemListBox::PanelSpotRect(uint32_t spot) const {
    for (int i = 0; i < int(rows_.size()); ++i) {
        if ((rows_[size_t(i)]->flags & (ROW_PANEL | ROW_GROUP_HEADER)) != ROW_PANEL) continue;
        const QRect r = RowRect(i);
        const QRect s = panel_->SpotRect(spot);
        return r.isEmpty() || s.isEmpty() ? QRect() : s.translated(r.topLeft());
    }
    return {};
}

NameEditor& CElemListBox::Editor() {
    return panel_->Editor();
}

void CElemListBox::SetFirmwarePath(const QString& path) {
    panel_->SetFirmwarePath(path);
}

void CElemListBox::SetUpgradeOptions(const UpgradeOptions& options) {
    panel_->SetUpgradeOptions(options);
}

int CElemListBox::FollowedUpgrades() const {
    return panel_->FollowedUpgrades();
}

const ZoningLayout& CElemListBox::Zoning() const {
    return zoning_->Geometry();
}

QRect CElemListBox::ZoneCellRect(int row, int cell) const {
    const QRect r = RowRect(row);
    const QRect c = zoning_->Geometry().CellRect(cell);
    return r.isEmpty() || c.isEmpty() ? QRect() : c.translated(r.topLeft());
}

QRect CElemListBox::ZoningButtonRect(int row, uint32_t spot) const {
    const QRect r = RowRect(row);
    const ZoningLayout& zoning = zoning_->Geometry();
    return r.isEmpty()
               ? QRect()
               : (spot == HS_ZONING_APPLY ? zoning.apply : zoning.undo).translated(r.topLeft());
}

int CElemListBox::PendingChanges() const {
    return (zoning_->Edited() ? kZoningEdited : 0) | (panel_->Editor().Edited() ? kNameEdited : 0);
}

int CElemListBox::RunOperation(int text_id, const std::function<int(OperationCallback)>& start) {
    ++modal_depth_;
    const int result = RunModalOperation(this, text_id, start);
    --modal_depth_;
    return result;
}

bool CElemListBox::RunDialog(QDialog& dialog) {
    ++modal_depth_;
    const bool accepted = dialog.exec() == QDialog::Accepted;
    --modal_depth_;
    return accepted;
}

void CElemListBox::RepaintPanel() {
    for (CItemData* row : rows_) {
        if ((row->flags & (ROW_PANEL | ROW_GROUP_HEADER)) == ROW_PANEL) row->flags |= ROW_DIRTY;
    }
    RepaintDirtyRows();
}

// After a modal wait: what was put off while it ran happens now.
void CElemListBox::EndOfModalWait() {
    if (modal_depth_ > 0) return;
    if (deferred_subject_) {
        Ref<CSubEnc> subject = std::move(*deferred_subject_);
        deferred_subject_.reset();
        ShowSubEnc(subject.get());
        return;
    }
    if (rebuild_pending_) RefreshPass();
}

}  // namespace halvorin
