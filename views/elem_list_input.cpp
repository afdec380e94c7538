// The element list's input: hit testing and hot spots, clicks, the slot's
// identify switch, keys, tool tips and the quick-jump menu.
#include "views/elem_list_box.h"

#include <QCursor>
#include <QHelpEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QToolTip>
#include <algorithm>

#include "base/result_code.h"
#include "base/string_table.h"
#include "base/text_format.h"
#include "enclosure/model/display_name.h"
#include "enclosure/model/element_condition.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/reachability.h"
#include "enclosure/model/ses_dev.h"
#include "enclosure/model/zone_bits.h"
#include "enclosure/ops/control_operations.h"
#include "enclosure/poll/event_rule.h"
#include "shell/events/operator_event.h"
#include "shell/theme/stale_text.h"
#include "shell/theme/string_resources.h"
#include "shell/theme/theme_color.h"
#include "views/action_events.h"
#include "views/elem_list_look.h"
#include "views/system_info_panel.h"
#include "views/zoning_editor.h"

namespace halvorin {

// ---- input --------------------------------------------------------------------

uint32_t CElemListBox::RowHitCode(int index, QPoint in_row) const {
    const CItemData* row = Row(index);
    if (!row) return kNothingHot;
    if (row->flags & ROW_GROUP_HEADER) {
        const bool hot = !(row->flags & ROW_PANEL);
        return MakeHitCode(index, hot ? HS_ROW | kClickable : HS_NONE);
    }
    if (row->flags & ROW_PANEL)
        return MakeHitCode(index, ShowsCurrentValues() ? panel_->HitCode(in_row) : HS_NONE);
    if (row->flags & (ROW_ZONING_HEAD | ROW_ZONE)) {
        return MakeHitCode(index, zoning_->HitCode(*row, in_row));
    }
    if (row->flags & ROW_OVERVIEW) {
        const bool in_name = row->subenc && in_row.x() < Overview().widths[kOverviewNameColumn];
        return MakeHitCode(index, in_name ? HS_ROW | kClickable : HS_NONE);
    }
    if ((row->flags & ROW_SLOT) && ShowsSlotDetails(*row)) {
        const QRect row_rect(0, 0, ListWidth(), RowHeight(index));
        if (SlotSwitchRect(row_rect).contains(in_row)) {
            return MakeHitCode(index, HS_IDENT_LED | kClickable);
        }
    }
    return MakeHitCode(index, HS_NONE);
}

uint32_t CElemListBox::HitTest(QPoint at) {
    const int row = RowAt(at);
    if (row < 0) return kNothingHot;
    return RowHitCode(row, at - RowRect(row).topLeft());
}

void CElemListBox::UpdateHot(QPoint at) {
    const uint32_t code = HitTest(at);
    const QRect spot = code != kNothingHot ? HotSpotRect(code) : QRect();
    if (code != hit_code_ || spot != hot_rect_) {
        update(hot_rect_);
        update(spot);
        hot_rect_ = spot;
        hit_code_ = code;
    }
    setCursor((code & kClickable) == kClickable ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

// What repaints when a hot spot lights up or goes out: the spot's own
// rectangle where it has one, else the row.
QRect CElemListBox::HotSpotRect(uint32_t code) const {
    const int index = HitRow(code);
    const QRect row_rect = RowRect(index);
    const CItemData* row = Row(index);
    if (!row || row_rect.isEmpty()) return row_rect;
    const uint32_t spot = HitSpot(code);
    QRect local;
    if ((row->flags & (ROW_PANEL | ROW_GROUP_HEADER)) == ROW_PANEL) {
        local = panel_->SpotRect(spot);
    } else if (row->flags & ROW_ZONING_HEAD) {
        local = zoning_->SpotRect(*row, spot);
    } else if ((row->flags & (ROW_ZONE | ROW_GROUP_HEADER)) == ROW_ZONE &&
               (code & kClickable) == kClickable) {
        local = zoning_->SpotRect(*row, spot);
    } else if ((row->flags & ROW_SLOT) && spot == HS_IDENT_LED) {
        local = SlotSwitchRect(row_rect);
    } else {
        return row_rect;
    }
    return local.translated(row_rect.topLeft());
}

void CElemListBox::ClearHot() {
    if (!hot_rect_.isEmpty()) update(hot_rect_);
    hot_rect_ = {};
    hit_code_ = kNothingHot;
}

void CElemListBox::mouseMoveEvent(QMouseEvent* event) {
    UpdateHot(event->position().toPoint());
}

void CElemListBox::leaveEvent(QEvent*) {
    ClearHot();
}

void CElemListBox::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    UpdateHot(event->position().toPoint());
    const int row = HitRow(hit_code_);
    if (row < 0 || row >= int(rows_.size())) return;
    SetCurrentRow(row);
    ClickRow(row, HitSpot(hit_code_), event->position().toPoint() - RowRect(row).topLeft());
}

void CElemListBox::ClickRow(int index, uint32_t spot, QPoint in_row) {
    CItemData* row = Row(index);
    if (!row) return;
    if (!ShowsCurrentValues() && !(row->flags & ROW_GROUP_HEADER)) {
        // Nothing would reach the enclosure: say why instead of waiting.
        QToolTip::showText(QCursor::pos(), StaleText(LastReadTime(*current_)), this);
        return;
    }
    if ((row->flags & ROW_PANEL) && !(row->flags & ROW_GROUP_HEADER)) {
        if (spot == HS_NAME_EDIT) return ClickNameField(in_row);
        panel_->Click(spot);
        EndOfModalWait();
        return;
    }
    if (modal_depth_ > 0) return;
    if (row->flags & ROW_GROUP_HEADER) {
        if (!(row->flags & ROW_PANEL)) ToggleGroup(index);
        return;
    }
    if (row->flags & (ROW_ZONE | ROW_ZONING_HEAD)) {
        zoning_->Click(*row, spot);
        EndOfModalWait();
        return;
    }
    if ((row->flags & ROW_OVERVIEW) && row->subenc && spot == HS_ROW) {
        emit OpenSubEnc(row->subenc.get());
        return;
    }
    if ((row->flags & ROW_SLOT) && spot == HS_IDENT_LED) ClickSlotLed(*row);
}

void CElemListBox::ClickNameField(QPoint in_row) {
    if (modal_depth_ > 0) return;
    panel_->Editor().PlaceCaretAt(in_row.x());
    SetCurrentRow(1);
    SetCurrentControl(0);  // the name field comes first among the panel's controls
    RepaintPanel();        // the caret
}

void CElemListBox::ClickSlotLed(CItemData& row) {
    if (modal_depth_ > 0) return;
    Ref<CSesElem> element = row.element;  // the row may be rebuilt while we wait
    Ref<CSubEnc> subenc = current_;
    const bool on = element->state & kStateIdentifyOn;
    const OperatorAction action = on ? OperatorAction::kSlotLedOff : OperatorAction::kSlotLedOn;
    const int result = RunOperation(TextsOf(action).waiting, [&](OperationCallback done) {
        return SetSlotIdentify(element.get(), !on, std::move(done));
    });
    std::vector<std::u16string> names = {ElementName(element.get()),
                                         EnclosureDisplayName(subenc.get())};
    LogActionEvent(subenc.get(), ActionOutcome(action, std::move(names), result));
    if (result < 0) emit OperationFailed(result);
    if (current_.get() != subenc.get() || deferred_subject_ || rebuild_pending_) {
        EndOfModalWait();
        return;
    }
    if (auto* shown = static_cast<CItemData*>(element->view_data)) {
        shown->flags |= ROW_DIRTY;
        shown->shown_state = element->state;
        RepaintDirtyRows();
    }
}

void CElemListBox::wheelEvent(QWheelEvent* event) {
    CPaintedList::wheelEvent(event);
    UpdateHot(event->position().toPoint());
}

// The keyboard's row says what clicking it would do.
void CElemListBox::KeyboardMoved(int row) {
    const QRect r = RowRect(row);
    const CItemData* item = Row(row);
    if (!item) return;
    const QString tip = ToolTipText(
        MakeHitCode(row, (item->flags & ROW_GROUP_HEADER) ? HS_ROW | kClickable : HS_NONE));
    if (tip.isEmpty()) {
        QToolTip::hideText();
    } else {
        QToolTip::showText(mapToGlobal(r.bottomLeft()), tip, this, r);
    }
}

// The name field has the keys while the keyboard is on it: after a click in
// it, or after the arrows brought the ring there.
bool CElemListBox::EditorHasKeys() const {
    if (!current_ || modal_depth_ > 0 || panel_->Upgrading()) return false;
    const std::vector<RowControl> controls = RowControls(CurrentRow());
    return CurrentControl() >= 0 && CurrentControl() < int(controls.size()) &&
           controls[size_t(CurrentControl())].id == HS_NAME_EDIT;
}

// Left at the start of the name and Right at its end leave the field for
// the row and the Change button, as the other controls are left.
bool CElemListBox::LeavesEditor(const QKeyEvent& event) const {
    const NameEditor& editor = panel_->Editor();
    if (event.modifiers() != Qt::NoModifier || editor.AllSelected()) return false;
    return (event.key() == Qt::Key_Left && editor.Caret() == 0) ||
           (event.key() == Qt::Key_Right && editor.Caret() == int(editor.Text().size()));
}

void CElemListBox::inputMethodEvent(QInputMethodEvent* event) {
    if (EditorHasKeys() && panel_->Editor().Type(event->commitString())) RepaintPanel();
    event->accept();
}

void CElemListBox::keyPressEvent(QKeyEvent* event) {
    if (EditorHasKeys() && !LeavesEditor(*event) && panel_->Editor().Key(*event)) {
        RepaintPanel();
        return;
    }
    const bool jump = event->key() == Qt::Key_Menu ||
                      (event->key() == Qt::Key_J && (event->modifiers() & Qt::ControlModifier));
    if (jump) {
        OpenQuickJump();
        return;
    }
    CPaintedList::keyPressEvent(event);
}

std::vector<RowControl> CElemListBox::RowControls(int index) const {
    const CItemData* row = Row(index);
    if (!row) return {};
    if ((row->flags & (ROW_PANEL | ROW_GROUP_HEADER)) == ROW_PANEL) return panel_->Controls(*row);
    if (row->flags & (ROW_ZONING_HEAD | ROW_ZONE)) return zoning_->Controls(*row);
    return {};
}

// A press from the keyboard or a screen reader is a click on the control,
// with the same refusals (old values, a modal wait, nothing to apply).
void CElemListBox::PressRowControl(int index, uint32_t id) {
    const std::vector<RowControl> controls = RowControls(index);
    const auto control = std::find_if(controls.begin(), controls.end(),
                                      [id](const RowControl& c) { return c.id == id; });
    if (control == controls.end() || !control->enabled) return;
    SetCurrentRow(index);
    ClickRow(index, id, control->rect.center());
}

bool CElemListBox::RowHasAction(int index) const {
    const CItemData* row = Row(index);
    if (!row) return false;
    if (row->flags & ROW_GROUP_HEADER) return !(row->flags & ROW_PANEL);
    if (row->flags & ROW_OVERVIEW) return bool(row->subenc);
    return (row->flags & ROW_SLOT) && ShowsSlotDetails(*row);
}

void CElemListBox::ActivateRow(int index) {
    CItemData* row = Row(index);
    if (!row || !RowHasAction(index)) return;
    if (row->flags & ROW_GROUP_HEADER) {
        ToggleGroup(index);
    } else if (row->flags & ROW_OVERVIEW) {
        emit OpenSubEnc(row->subenc.get());
    } else {
        ClickSlotLed(*row);
    }
}

// ---- tool tips ----------------------------------------------------------------

QString CElemListBox::RowDescription(int row) const {
    return ToolTipText(MakeHitCode(row, HS_ROW));
}

void CElemListBox::DescribeRowState(int index, QAccessible::State& state) const {
    const CItemData* row = Row(index);
    if (!row || !(row->flags & ROW_GROUP_HEADER) || (row->flags & ROW_PANEL)) return;
    state.expandable = true;
    state.expanded = (row->flags & ROW_EXPANDED) != 0;
    state.collapsed = !state.expanded;
}

QString CElemListBox::ToolTipText(uint32_t code) const {
    const CItemData* row = Row(HitRow(code));
    if (!row || !current_) return {};
    if ((row->flags & ROW_GROUP_HEADER) && !(row->flags & ROW_PANEL)) return LoadQString(114);
    if (!ShowsCurrentValues()) return StaleText(LastReadTime(*current_));
    switch (HitSpot(code)) {
        case HS_CHANGE_NAME:
            return LoadQString(121);
        case HS_MUTE:
            return LoadQString(115);
        case HS_IDENT_LED:
            return (row->flags & ROW_PANEL) ? LoadQString(120) : QString();
        case HS_BROWSE:
            return LoadQString(116);
        case HS_UPGRADE:
            return LoadQString(117);
        case HS_ZONING_APPLY:
            return (row->flags & ROW_ZONING_HEAD) ? LoadQString(118) : QString();
        case HS_ZONING_UNDO:
            return (row->flags & ROW_ZONING_HEAD) ? LoadQString(119) : QString();
        case HS_ZONE_OUTSIDE_TABLE:
            return OutsideZoneTableText();
        default:
            if ((row->flags & (ROW_ZONE | ROW_GROUP_HEADER)) == ROW_ZONE &&
                (code & kClickable) == kClickable) {
                return ZoneCellName(int(HitSpot(code)));
            }
            return {};
    }
}

bool CElemListBox::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const uint32_t code = HitTest(help->pos());
        const QString text = ToolTipText(code).left(80);
        if (text.isEmpty()) {
            QToolTip::hideText();
        } else {
            QToolTip::showText(help->globalPos(), text, this, RowRect(HitRow(code)));
        }
        return true;
    }
    return QWidget::event(event);
}

// ---- quick jump ---------------------------------------------------------------

void CElemListBox::OpenQuickJump() {
    if (!current_) return;
    quick_jump_ = std::make_unique<QMenu>(this);
    QMenu& menu = *quick_jump_;
    menu.setFont(look_->menu_font);
    menu.setStyleSheet(QString("QMenu::item:selected { background: %1; color: white; }")
                           .arg(ToQColor(LoadThemeColor(649, Rgb(0x43, 0xa0, 0xae))).name()));
    bool first = true;
    for (int i = 0; i < int(rows_.size()); ++i) {
        const CItemData& row = *rows_[size_t(i)];
        if (!(row.flags & ROW_GROUP_HEADER)) continue;
        const QString title = GroupTitle(row);
        if (title.isEmpty()) continue;
        const ElementGroup* group = GroupAt(row.group_row);
        QIcon icon;
        if (group && group->icon >= 0) {
            look_->group_icons.AddToIcon(icon, group->icon, QIcon::Normal);
            look_->group_icons_hot.AddToIcon(icon, group->icon, QIcon::Active);
        }
        QAction* action = menu.addAction(icon, title);
        action->setData(0xFFFF - i);
        connect(action, &QAction::triggered, this, [this, i] { JumpToRow(i); });
        if (first) menu.addSeparator();
        first = false;
    }
    const QPoint at = mapToGlobal(QPoint(width() - 8 - menu.sizeHint().width(), 0));
    menu.popup(at);
}

void CElemListBox::JumpToRow(int row) {
    CItemData* item = Row(row);
    if (!item) return;
    if ((item->flags & ROW_GROUP_HEADER) && !(item->flags & ROW_EXPANDED)) ToggleGroup(row);
    SetTopRow(std::min(row, ScrollBar().LastTopRow()));
    ScrollBar().Recompute();
    SetCurrentRow(row);
}

}  // namespace halvorin
