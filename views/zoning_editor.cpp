// The SAS zoning editor: one row per SAS port with a cell per slot, between
// two head rows with the instructions and the Apply and Undo buttons. Edits
// live in the rows until Apply writes the table of every port to the
// enclosure; Undo goes back to what was read.
#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <array>

#include "base/string_table.h"
#include "base/text_format.h"
#include "enclosure/model/display_name.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/zone_bits.h"
#include "enclosure/ops/control_operations.h"
#include "enclosure/poll/event_rule.h"
#include "enclosure/statuswnd/status_wnd.h"
#include "shell/events/operator_event.h"
#include "shell/theme/string_resources.h"
#include "shell/widgets/message_box.h"
#include "views/action_events.h"
#include "views/elem_list_box.h"
#include "views/elem_list_look.h"
#include "views/zoning_layout.h"

namespace halvorin {

namespace {

constexpr int kZoneBits = 96;  // what a row keeps of an entry's zone data

using ZoneBits = std::bitset<kZoneBits>;

ZoneBits ElementZoneBits(const CSesElem& element) {
    ZoneBits bits;
    const auto data = std::span(element.type_data).first(kZoneBits / 8);
    for (int k = 0; k < kZoneBits; ++k)
        bits[size_t(k)] = ZoneHasSlot(data, k);
    return bits;
}

// The slots of a row's bits that the enclosure's table carries.
ZoneSlots TableSlots(const ZoneBits& bits) {
    ZoneSlots in_table;  // (not "slots": a Qt keyword)
    for (int k = 0; k < kZoneTableSlots; ++k)
        in_table[size_t(k)] = bits[size_t(k)];
    return in_table;
}

// The bits the enclosure's table carries; the rest cleared.
ZoneBits TableBits(const ZoneBits& bits) {
    ZoneBits mask;
    for (int k = 0; k < kZoneTableSlots; ++k)
        mask.set(size_t(k));
    return bits & mask;
}

bool IsZoningRow(const CItemData& row) {
    return row.element && row.element->type == kTypeZoneEntry && (row.flags & ROW_ZONE);
}

}  // namespace

// The rows of the zoning group start from the zone data they show; the two
// head rows go around them.
void CElemListBox::AddZoningHeads(CItemData& header) {
    for (auto& member : header.member_rows) {
        member->flags &= ~uint32_t(ROW_NO_BOTTOM_LINE);
        member->zone_edit = member->zone_applied = ElementZoneBits(*member->element);
    }
    auto head = [&](uint32_t flags) {
        auto row = std::make_unique<CItemData>();
        row->flags = flags;
        row->group_row = header.group_row;
        row->kind = &ZoningHeadRowKind();
        return row;
    };
    header.member_rows.insert(header.member_rows.begin(), head(ROW_ELEMENT | ROW_ZONING_HEAD));
    header.member_rows.push_back(head(ROW_ELEMENT | ROW_ZONING_HEAD | ROW_NO_BOTTOM_LINE));
}

std::vector<CItemData*> CElemListBox::ZoningRows() const {
    std::vector<CItemData*> rows;
    for (const auto& item : items_) {
        for (const auto& member : item->member_rows) {
            if (IsZoningRow(*member)) rows.push_back(member.get());
        }
    }
    return rows;
}

void CElemListBox::LayoutZoning() {
    ZoningLayout& zoning = *zoning_;
    if (!current_ || (current_->capabilities & kCapNoZoning)) return;
    const int slot_count = SubEncInfo(current_.get()).counters[kTypeArrayDeviceSlot].count % 256;
    const int band_right = std::min(ListWidth(), ContentWidth()) - 12;
    zoning = LayOutZoneCells(slot_count, band_right - kZoningBandLeft);

    const QFontMetrics metrics(look_->element_font);
    auto button = [&](int text_id, int right) {
        QRect r = metrics.boundingRect(LoadQString(text_id)).adjusted(-12, 0, 12, 0);
        const int height = r.height() < 24 ? 24 : r.height() + 6;
        return QRect(right - r.width(), 0, r.width(), height);
    };
    zoning.apply = button(84, kZoningBandLeft + zoning.grid_width);
    zoning.undo = button(85, zoning.apply.left() - 18);
    const int text_right = zoning.undo.left() - 18;
    int head = zoning.undo.height() + 16;
    if (text_right > kZoningHeadTextLeft) {
        const QRect text =
            metrics.boundingRect(QRect(0, 0, text_right - kZoningHeadTextLeft, 10000),
                                 Qt::TextWordWrap, LoadQString(kZoningInstructionsText));
        head = std::max(head, text.height() + 16);
    }
    zoning.head_height = head;
    const int top = (head - zoning.apply.height()) / 2;
    zoning.apply.moveTop(top);
    zoning.undo.moveTop(top);
}

// ---- input ----------------------------------------------------------------------

QString ZoneCellName(int k) {
    return QString::fromStdU16String(
        CapitalizeWords(FormatString(LoadString(66), {int64_t(k) + 1})));
}

QString OutsideZoneTableText() {
    return QString::fromStdU16String(FormatString(LoadString(328), {int64_t(kZoneTableSlots)}));
}

// The cells of a zoning row and the heads' Undo and Apply, in the order the
// arrows visit them; cells beyond the zone table say why they are inert.
std::vector<RowControl> CElemListBox::ZoningControls(const CItemData& row) const {
    const ZoningLayout& zoning = *zoning_;
    std::vector<RowControl> controls;
    if (row.flags & ROW_ZONING_HEAD) {
        const bool edited = (pending_changes_ & kZoningEdited) != 0;
        controls.push_back({HS_ZONING_UNDO, QAccessible::Button, LoadQString(85), zoning.undo,
                            edited, std::nullopt, LoadQString(119)});
        controls.push_back({HS_ZONING_APPLY, QAccessible::Button, LoadQString(84), zoning.apply,
                            edited, std::nullopt, LoadQString(118)});
        return controls;
    }
    if (!IsZoningRow(row)) return controls;
    const QString outside = OutsideZoneTableText();
    for (int k = 0; k < zoning.slot_count; ++k) {
        const bool in_table = k < kZoneTableSlots;
        controls.push_back({uint32_t(k), QAccessible::CheckBox, ZoneCellName(k), zoning.CellRect(k),
                            in_table, k < kZoneBits && row.zone_edit[size_t(k)],
                            in_table ? QString() : outside});
    }
    return controls;
}

uint32_t CElemListBox::ZoningHitCode(const CItemData& row, QPoint in_row) const {
    const ZoningLayout& zoning = *zoning_;
    if (row.flags & ROW_ZONING_HEAD) {
        if (!(pending_changes_ & kZoningEdited)) return HS_NONE;
        if (zoning.apply.contains(in_row)) return HS_ZONING_APPLY | kClickable;
        if (zoning.undo.contains(in_row)) return HS_ZONING_UNDO | kClickable;
        return HS_NONE;
    }
    // Only what the enclosure's table carries can be changed; the cells
    // beyond it say why.
    const int cell = zoning.CellAt(in_row);
    if (cell < 0) return HS_NONE;
    return cell < kZoneTableSlots ? uint32_t(cell) | kClickable : HS_ZONE_OUTSIDE_TABLE;
}

QRect CElemListBox::ZoneCellRect(int row, int cell) const {
    const QRect r = RowRect(row);
    const QRect c = zoning_->CellRect(cell);
    return r.isEmpty() || c.isEmpty() ? QRect() : c.translated(r.topLeft());
}

QRect CElemListBox::ZoningButtonRect(int row, uint32_t spot) const {
    const QRect r = RowRect(row);
    const QRect b = spot == HS_ZONING_APPLY ? zoning_->apply : zoning_->undo;
    return r.isEmpty() ? QRect() : b.translated(r.topLeft());
}

void CElemListBox::ClickZoneCell(CItemData& row, int cell) {
    if (modal_depth_ > 0 || cell < 0 || cell >= kZoneTableSlots) return;
    row.zone_edit.flip(size_t(cell));
    row.flags |= ROW_DIRTY;
    SetZoningEdited(true);
    RepaintDirtyRows();
}

// Apply and Undo look usable only while there are edits: their rows are
// painted again when that changes.
void CElemListBox::SetZoningEdited(bool edited) {
    const bool was = (pending_changes_ & kZoningEdited) != 0;
    pending_changes_ =
        edited ? pending_changes_ | kZoningEdited : pending_changes_ & ~kZoningEdited;
    if (was == edited) return;
    for (const auto& item : items_) {
        for (const auto& member : item->member_rows)
            if (member->flags & ROW_ZONING_HEAD) member->flags |= ROW_DIRTY;
    }
}

// Writes the edits of every zoning row (also of a collapsed group) to the
// enclosure; the model takes them once the enclosure has. On failure the
// model keeps what it had and the edits stay.
int CElemListBox::ApplyZoningEdits(bool report_failure) {
    ZoneEdits edits;
    for (CItemData* row : ZoningRows())
        edits[row->element->element_index] = TableSlots(row->zone_edit);
    SetZoningEdited(false);
    Ref<CSubEnc> subenc = current_;
    const int result = RunEnclosureAction(216, [&](OperationCallback done) {
        return ApplyZoning(subenc.get(), edits, std::move(done));
    });
    if (result >= 0) {
        AddOperatorEvent(kEventInformation, subenc.get(), kZoningAppliedText,
                         {QString::fromStdU16String(EnclosureDisplayName(subenc.get()))});
        if (current_.get() != subenc.get()) return result;
        for (CItemData* row : ZoningRows())
            row->zone_applied = row->zone_edit;
        RepaintDirtyRows();
        return result;
    }
    if (current_.get() == subenc.get()) {
        SetZoningEdited(true);
        RepaintDirtyRows();
    }
    if (report_failure) {
        CMessageBox box;
        box.ShowMessageBox(CMessageBox::kNotice, 135);
    }
    return result;
}

void CElemListBox::UndoZoningEdits() {
    CStatusWnd::ShowStatus(217, this, 2000);
    if (current_)
        AddOperatorEvent(kEventInformation, current_.get(), kZoningUndoneText,
                         {QString::fromStdU16String(EnclosureDisplayName(current_.get()))});
    for (CItemData* row : ZoningRows()) {
        row->zone_applied = ElementZoneBits(*row->element);
        if (TableBits(row->zone_edit) != TableBits(row->zone_applied)) {
            row->zone_edit = TableBits(row->zone_applied);
            row->flags |= ROW_DIRTY;
        }
    }
    SetZoningEdited(false);
    RepaintDirtyRows();
}

// What the enclosure reports wins over the row's edits.
bool CElemListBox::RefreshZoningRow(CItemData& row) {
    const ZoneBits read = ElementZoneBits(*row.element);
    if (TableBits(read) == TableBits(row.zone_applied)) return false;
    row.zone_applied = row.zone_edit = TableBits(read);
    row.flags |= ROW_DIRTY;
    return true;
}

}  // namespace halvorin
