// ZoningEditor: the SAS zoning group of the element list. One row per SAS
// port with a cell per slot, between two head rows with the instructions and
// the Apply and Undo buttons. Edits live in the rows until Apply writes the
// table of every port to the enclosure; Undo goes back to what was read.
#pragma once

#include <QFont>
#include <QPoint>
#include <QRect>
#include <bitset>
#include <map>
#include <vector>

#include "shell/widgets/painted_list.h"
#include "views/zoning_layout.h"

namespace halvorin {

class ActionHost;
struct CItemData;

class ZoningEditor {
  public:
    explicit ZoningEditor(ActionHost& host) : host_(host) {}

    // The zoning group's rows: its port rows take the zone data they show,
    // and the two head rows are added around them.
    void AddHeads(CItemData& header);
    // The rows are gone (the list is cleared or rebuilt); the edits go with them.
    void Forget();
    // Places the cells and buttons for the enclosure shown in a band that
    // ends `band_right` px from the list's left edge.
    void Layout(int band_right, const QFont& font);
    const ZoningLayout& Geometry() const { return layout_; }

    // Whether a port row holds an edit the enclosure does not have yet.
    bool Edited() const { return edited_; }
    uint32_t HitCode(const CItemData& row, QPoint in_row) const;
    // The spot's rectangle in the row, for repainting its hot state.
    QRect SpotRect(const CItemData& row, uint32_t spot) const;
    std::vector<RowControl> Controls(const CItemData& row) const;
    // A click on a cell, Apply or Undo.
    void Click(CItemData& row, uint32_t spot);

    // Writes the edits of every port row (also of a collapsed group) to the
    // enclosure; the model takes them once the enclosure has. On failure the
    // model keeps what it had and the edits stay. The operation's result.
    int Apply(bool report_failure);
    void Undo();
    // The operator dropped the edits on leaving the enclosure: nothing is
    // pending any more.
    void DropEdits() { SetEdited(false); }
    // What the enclosure reports wins over the row's edits; true when the row changed.
    bool Refresh(CItemData& row) const;

    // The edits, kept while the rows are built again for a changed
    // configuration and put back on the rows of the same elements.
    struct KeptEdits {
        std::map<uint32_t, std::bitset<96>> by_element;  // by CSesElem::key()
        bool edited = false;
    };
    KeptEdits Keep() const;
    void PutBack(const KeptEdits& kept);

  private:
    void ToggleCell(CItemData& row, int cell);
    void SetEdited(bool edited);

    ActionHost& host_;
    ZoningLayout layout_;
    bool edited_ = false;
    std::vector<CItemData*> rows_;  // the port rows and the two heads, as the list owns them
};

}  // namespace halvorin
