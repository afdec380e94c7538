// The SAS zoning editor: its rows' zone data, layout, hot spots and the
// Apply and Undo operations.
#include "views/zoning_editor.h"

#include <QFontMetrics>
#include <array>

#include "base/string_table.h"
#include "base/text_format.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/zone_bits.h"
#include "enclosure/ops/control_operations.h"
#include "enclosure/poll/event_rule.h"
#include "enclosure/statuswnd/status_wnd.h"
#include "shell/theme/string_resources.h"
#include "shell/widgets/message_box.h"
#include "views/action_events.h"
#include "views/action_host.h"
#include "views/item_data.h"
#include "views/rows/row_kind.h"

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
void ZoningEditor::AddHeads(CItemData& header) {
    for (auto& member : header.member_rows) {
        member->flags &= ~uint32_t(ROW_NO_BOTTOM_LINE);
        member->zone_edit = member->zone_applied = ElementZoneBits(*member->element);
        rows_.push_back(member.get());
    }
    auto head = [&](uint32_t flags) {
        auto row = std::make_unique<CItemData>();
        row->flags = flags;
        row->group_row = header.group_row;
        row->kind = &ZoningHeadRowKind();
        rows_.push_back(row.get());
        return row;
    };
    header.member_rows.insert(header.member_rows.begin(), head(ROW_ELEMENT | ROW_ZONING_HEAD));
    header.member_rows.push_back(head(ROW_ELEMENT | ROW_ZONING_HEAD | ROW_NO_BOTTOM_LINE));
}

void ZoningEditor::Forget() {
    rows_.clear();
    edited_ = false;
}

ZoningEditor::KeptEdits ZoningEditor::Keep() const {
    KeptEdits kept{.edited = edited_};
    for (const CItemData* row : rows_) {
        if (IsZoningRow(*row)) kept.by_element.emplace(row->element->key(), row->zone_edit);
    }
    return kept;
}

void ZoningEditor::PutBack(const KeptEdits& kept) {
    for (CItemData* row : rows_) {
        if (!IsZoningRow(*row)) continue;
        if (auto edit = kept.by_element.find(row->element->key()); edit != kept.by_element.end())
            row->zone_edit = edit->second;
    }
    edited_ = kept.edited;
}

void ZoningEditor::Layout(int band_right, const QFont& font) {
    const CSubEnc* subenc = host_.Subject();
    if (!subenc || (subenc->capabilities & kCapNoZoning)) return;
    const int slot_count = SubEncInfo(subenc).counters[kTypeArrayDeviceSlot].count % 256;
    layout_ = LayOutZoneCells(slot_count, band_right - kZoningBandLeft);

    const QFontMetrics metrics(font);
    auto button = [&](int text_id, int right) {
        QRect r = metrics.boundingRect(LoadQString(text_id)).adjusted(-12, 0, 12, 0);
        const int height = r.height() < 24 ? 24 : r.height() + 6;
        return QRect(right - r.width(), 0, r.width(), height);
    };
    layout_.apply = button(84, kZoningBandLeft + layout_.grid_width);
    layout_.undo = button(85, layout_.apply.left() - 18);
    const int text_right = layout_.undo.left() - 18;
    int head = layout_.undo.height() + 16;
    if (text_right > kZoningHeadTextLeft) {
        const QRect text =
            metrics.boundingRect(QRect(0, 0, text_right - kZoningHeadTextLeft, 10000),
                                 Qt::TextWordWrap, LoadQString(kZoningInstructionsText));
        head = std::max(head, text.height() + 16);
    }
    layout_.head_height = head;
    const int top = (head - layout_.apply.height()) / 2;
    layout_.apply.moveTop(top);
    layout_.undo.moveTop(top);
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
std::vector<RowControl> ZoningEditor::Controls(const CItemData& row) const {
    std::vector<RowControl> controls;
    if (row.flags & ROW_ZONING_HEAD) {
        controls.push_back({HS_ZONING_UNDO, QAccessible::Button, LoadQString(85), layout_.undo,
                            edited_, std::nullopt, LoadQString(119)});
        controls.push_back({HS_ZONING_APPLY, QAccessible::Button, LoadQString(84), layout_.apply,
                            edited_, std::nullopt, LoadQString(118)});
        return controls;
    }
    if (!IsZoningRow(row)) return controls;
    const QString outside = OutsideZoneTableText();
    for (int k = 0; k < layout_.slot_count; ++k) {
        const bool in_table = k < kZoneTableSlots;
        controls.push_back(
            {uint32_t(k), QAccessible::CheckBox, ZoneCellName(k), layout_.CellRect(k), in_table,
             k < kZoneBits && row.zone_edit[size_t(k)], in_table ? QString() : outside});
    }
    return controls;
}

uint32_t ZoningEditor::HitCode(const CItemData& row, QPoint in_row) const {
    if (row.flags & ROW_ZONING_HEAD) {
        if (!edited_) return HS_NONE;
        if (layout_.apply.contains(in_row)) return HS_ZONING_APPLY | kClickable;
        if (layout_.undo.contains(in_row)) return HS_ZONING_UNDO | kClickable;
        return HS_NONE;
    }
    // Only what the enclosure's table carries can be changed; the cells
    // beyond it say why.
    const int cell = layout_.CellAt(in_row);
    if (cell < 0) return HS_NONE;
    return cell < kZoneTableSlots ? uint32_t(cell) | kClickable : HS_ZONE_OUTSIDE_TABLE;
}

QRect ZoningEditor::SpotRect(const CItemData& row, uint32_t spot) const {
    if (row.flags & ROW_ZONING_HEAD) {
        return spot == HS_ZONING_APPLY  ? layout_.apply
               : spot == HS_ZONING_UNDO ? layout_.undo
                                        : QRect();
    }
    return spot < uint32_t(kZoneTableSlots) ? layout_.CellRect(int(spot)) : QRect();
}

void ZoningEditor::Click(CItemData& row, uint32_t spot) {
    if (host_.Waiting()) return;
    if ((row.flags & ROW_ZONE) && spot < uint32_t(kZoneTableSlots)) {
        ToggleCell(row, int(spot));
    } else if (!(row.flags & ROW_ZONING_HEAD)) {
        return;
    } else if (spot == HS_ZONING_APPLY) {
        Apply(true);
    } else if (spot == HS_ZONING_UNDO) {
        Undo();
    }
}

void ZoningEditor::ToggleCell(CItemData& row, int cell) {
    row.zone_edit.flip(size_t(cell));
    row.flags |= ROW_DIRTY;
    SetEdited(true);
    host_.RepaintDirtyRows();
}

// Apply and Undo look usable only while there are edits: their rows are
// painted again when that changes.
void ZoningEditor::SetEdited(bool edited) {
    if (edited_ == edited) return;
    edited_ = edited;
    for (CItemData* row : rows_) {
        if (row->flags & ROW_ZONING_HEAD) row->flags |= ROW_DIRTY;
    }
}

int ZoningEditor::Apply(bool report_failure) {
    ZoneEdits edits;
    for (const CItemData* row : rows_) {
        if (IsZoningRow(*row)) edits[row->element->element_index] = TableSlots(row->zone_edit);
    }
    SetEdited(false);
    Ref<CSubEnc> subenc = Ref<CSubEnc>::Share(host_.Subject());
    const OperatorAction action = OperatorAction::kApplyZoning;
    const int result = host_.RunOperation(TextsOf(action).waiting, [&](OperationCallback done) {
        return ApplyZoning(subenc.get(), edits, std::move(done));
    });
    LogActionOutcome(action, subenc.get(), result);
    const bool still_shown = host_.Subject() == subenc.get();
    if (result >= 0) {
        if (!still_shown) return result;
        for (CItemData* row : rows_) {
            if (IsZoningRow(*row)) row->zone_applied = row->zone_edit;
        }
        host_.RepaintDirtyRows();
        return result;
    }
    if (still_shown) {
        SetEdited(true);
        host_.RepaintDirtyRows();
    }
    if (report_failure) {
        CMessageBox box;
        box.ShowMessageBox(CMessageBox::kNotice, 135);
    }
    return result;
}

void ZoningEditor::Undo() {
    const OperatorAction action = OperatorAction::kUndoZoning;
    CStatusWnd::ShowStatus(TextsOf(action).waiting, &host_.Window(), 2000);
    if (CSubEnc* subenc = host_.Subject()) LogActionOutcome(action, subenc, kOk);
    for (CItemData* row : rows_) {
        if (!IsZoningRow(*row)) continue;
        row->zone_applied = ElementZoneBits(*row->element);
        if (TableBits(row->zone_edit) != TableBits(row->zone_applied)) {
            row->zone_edit = TableBits(row->zone_applied);
            row->flags |= ROW_DIRTY;
        }
    }
    SetEdited(false);
    host_.RepaintDirtyRows();
}

bool ZoningEditor::Refresh(CItemData& row) const {
    const ZoneBits read = ElementZoneBits(*row.element);
    if (TableBits(read) == TableBits(row.zone_applied)) return false;
    row.zone_applied = row.zone_edit = TableBits(read);
    row.flags |= ROW_DIRTY;
    return true;
}

}  // namespace halvorin
