#include "views/elem_list_box.h"

#include <QApplication>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <map>

#include "base/string_table.h"
#include "enclosure/model/domain_registry.h"
#include "enclosure/model/element_condition.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/reachability.h"
#include "enclosure/model/ses_dev.h"
#include "enclosure/model/ses_domain.h"
#include "enclosure/model/zone_bits.h"
#include "enclosure/poll/event_rule.h"
#include "shell/theme/stale_text.h"
#include "shell/theme/string_resources.h"
#include "shell/theme/theme_color.h"
#include "shell/widgets/message_box.h"
#include "views/elem_list_look.h"
#include "views/system_info_panel.h"
#include "views/zoning_editor.h"

namespace halvorin {

namespace {
constexpr int kWelcomeText = 23;
}  // namespace

CItemData::~CItemData() {
    for (auto& member : member_rows) {
        if (member && member->element) member->element->view_data = nullptr;
    }
}

CElemListBox::CElemListBox(DomainRegistry* registry, QWidget* parent)
    : CPaintedList(parent),
      registry_(registry),
      look_(std::make_unique<Look>(devicePixelRatioF())),
      panel_(std::make_unique<SystemInfoPanel>(static_cast<ActionHost&>(*this))),
      zoning_(std::make_unique<ZoningEditor>(static_cast<ActionHost&>(*this))) {
    setAttribute(Qt::WA_InputMethodEnabled);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    SetFocusRingColour(look_->focus);
    ScrollBar().SetColours({ToQColor(LoadThemeColor(435, Rgb(0xff, 0xff, 0xff))),
                            ToQColor(LoadThemeColor(436, Rgb(0xff, 0xff, 0xff))),
                            ToQColor(LoadThemeColor(435, Rgb(0xff, 0xff, 0xff))),
                            ToQColor(LoadThemeColor(437, Rgb(0xcc, 0xcc, 0xcc))),
                            ToQColor(LoadThemeColor(438, Rgb(0x66, 0x66, 0x66)))});
    refresh_timer_.setInterval(kRefreshMs);
    connect(&refresh_timer_, &QTimer::timeout, this, [this] { RefreshPass(); });
    refresh_timer_.start();
    overview_timer_.setInterval(kOverviewMs);
    connect(&overview_timer_, &QTimer::timeout, this, [this] {
        if (!current_ && !show_welcome_ && modal_depth_ == 0) BuildOverviewRows();
    });
    overview_timer_.start();
}

CElemListBox::~CElemListBox() {
    // The menu and the bar are children: they go first, while the rows still exist.
    quick_jump_.reset();
    DropScrollBar();
    rows_.clear();
    ClearElementRows();
    ClearOverviewRows();
}

// ---- building and clearing ---------------------------------------------------

void CElemListBox::ShowSubEnc(CSubEnc* subenc) {
    Ref<CSubEnc> next = Ref<CSubEnc>::Share(subenc);
    if (modal_depth_ > 0) {
        deferred_subject_ = std::move(next);
        return;
    }
    if (current_ && current_.get() != next.get() && !AskToKeepEdits(false)) return;
    // Asking may have waited for an operation, during which another change came.
    if (deferred_subject_) {
        next = std::move(*deferred_subject_);
        deferred_subject_.reset();
    }
    subenc = next.get();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (show_welcome_) {
        show_welcome_ = false;
    } else if (current_) {
        ClearElementRows();
    } else {
        ClearOverviewRows();
    }
    rows_.clear();
    ClearHot();
    current_ = std::move(next);
    ResetPlace();
    panel_->Show(current_.get());
    if (current_) {
        LayOutPanelAndZoning();
        BuildElementRows();
    } else {
        BuildOverviewRows();
    }
    RowsChanged();
    repaint();
    QApplication::restoreOverrideCursor();
}

bool CElemListBox::MayLeave() {
    return modal_depth_ > 0 || !current_ || AskToKeepEdits(true);
}

// Leaving an enclosure whose name or zoning was edited: the operator drops
// the edits (Yes), has them applied first (No), or, where `can_stay`, stays
// (Cancel: false, the edits kept).
bool CElemListBox::AskToKeepEdits(bool can_stay) {
    const int pending = PendingChanges();
    if (pending == 0 || !current_->InMap()) return true;
    ++modal_depth_;
    CMessageBox box;
    const int answer =
        box.ShowMessageBox(can_stay ? CMessageBox::kQuestionCancel : CMessageBox::kQuestion, 131);
    --modal_depth_;
    if (answer == CMessageBox::kResultCancel) return false;
    if (answer == CMessageBox::kResultNo) {
        if ((pending & kNameEdited) && panel_->ChangeSystemName(false) < 0) {
            CMessageBox failed;
            failed.ShowMessageBox(CMessageBox::kNotice, 136);
        }
        if (pending & kZoningEdited) zoning_->Apply(true);
    }
    zoning_->DropEdits();
    return true;
}

void CElemListBox::BuildElementRows() {
    CSubEnc* subenc = current_.get();
    auto header = std::make_unique<CItemData>();
    header->flags = kPanelHeaderFlags;
    header->group_row = kSystemInformationGroup;
    header->kind = &GroupHeaderRowKind();
    auto body = std::make_unique<CItemData>();
    body->flags = ROW_PANEL;
    body->kind = &PanelBodyRowKind();
    body->shown_state = subenc->indicators & (kIndicatorUidLed | kIndicatorBuzzer);
    body->flags |= ROW_DIRTY;
    rows_.push_back(header.get());
    header->member_rows.push_back(std::move(body));
    rows_.push_back(header->member_rows.back().get());
    items_.push_back(std::move(header));

    const auto table = ElementGroupTable();
    for (int g = 0; g < int(table.size()); ++g) {
        const ElementGroup& group = table[size_t(g)];
        if (!group.kind) continue;
        if (group.type == kTypeZoneEntry && (subenc->capabilities & kCapNoZoning)) continue;
        uint8_t index = kNoTypeDescriptor;
        if (FindTypeDescriptor(subenc->dev, subenc, uint8_t(group.type), index) < 0) continue;
        do {
            AddGroup(g, index);
        } while (NextTypeDescriptor(subenc->dev, index, subenc, uint8_t(group.type), index) >= 0);
    }
    std::lock_guard lock(subenc->mutex);
    built_element_count_ = subenc->elements.size();
}

void CElemListBox::AddGroup(int group_index, uint8_t type_desc_index) {
    CSubEnc* subenc = current_.get();
    const ElementGroup& group = *GroupAt(group_index);
    std::vector<Ref<CSesElem>> members = ElementsOfType(subenc, type_desc_index);
    if (members.empty()) return;

    auto header = std::make_unique<CItemData>();
    header->flags = group.flags | ROW_GROUP_HEADER;
    header->group_row = group_index;
    header->kind = &GroupHeaderRowKind();
    header->type_desc = std::make_unique<ELEM_TYPE_DESC>();
    header->type_desc_index = type_desc_index;
    TypeDescriptorAt(subenc->dev, type_desc_index, *header->type_desc);
    header->members = std::move(members);

    uint32_t flags = group.flags | ROW_ELEMENT;
    if (subenc->capabilities & kCapThresholdsFromNominal) flags &= ~uint32_t(ROW_THRESHOLD_SCALE);
    for (size_t i = 0; i < header->members.size(); ++i) {
        CSesElem* element = header->members[i].get();
        auto row = std::make_unique<CItemData>();
        row->flags = flags | (i + 1 == header->members.size() ? ROW_LAST_IN_GROUP : 0);
        row->group_row = group_index;
        row->kind = &group.kind();
        row->element = Ref<CSesElem>::Share(element);
        row->shown_state = element->state;
        row->shown_status = element->raw_status[0] & 0x0F;
        row->flags |= IsFault(*element) ? ROW_FAILED : 0;
        if (group.chart_height > 0 && (row->flags & ROW_HAS_CHART)) {
            std::array<int16_t, kChartSamples> samples;
            const size_t n = ReadHistory(*element, samples, nullptr);
            row->chart.geometry = InitialChartGeometry(
                group.chart_height, row->flags & ROW_THRESHOLD_SCALE,
                {element->thresholds, element->nominal, element->thresholds_set},
                std::span(samples.data(), n));
            row->chart.threshold_lines = row->flags & ROW_THRESHOLD_SCALE;
            row->chart.format = group.format;
            row->chart.Build(look_->chart, *element);
        }
        element->view_data = row.get();
        header->member_rows.push_back(std::move(row));
    }
    if (group.type == kTypeZoneEntry) zoning_->AddHeads(*header);
    RefreshGroup(*header);
    header->flags &= ~uint32_t(ROW_DIRTY);
    rows_.push_back(header.get());
    items_.push_back(std::move(header));
}

void CElemListBox::ClearElementRows() {
    // Every row leaves the list; the items (and their references) go with
    // their headers.
    zoning_->Forget();
    items_.clear();
    built_element_count_ = 0;
}

void CElemListBox::ClearOverviewRows() {
    overview_.clear();
    overview_header_.reset();
}

void CElemListBox::BuildOverviewRows() {
    if (current_) return;
    std::unordered_map<CSubEnc*, std::unique_ptr<CItemData>> old = std::move(overview_);
    overview_.clear();
    const std::vector<CItemData*> before = std::move(rows_);
    rows_.clear();
    if (!overview_header_) {
        overview_header_ = std::make_unique<CItemData>();
        overview_header_->flags = ROW_OVERVIEW;
        overview_header_->kind = &OverviewRowKind();
    }
    rows_.push_back(overview_header_.get());
    const auto domains = registry_ ? registry_->Snapshot() : std::vector<Ref<CSesDomain>>{};
    for (const Ref<CSesDomain>& domain : domains) {
        for (Ref<CSubEnc>& subenc : CollectSubEnclosures(domain.get())) {
            auto found = old.find(subenc.get());
            std::unique_ptr<CItemData> row;
            if (found != old.end()) {
                row = std::move(found->second);  // it holds a reference already
                old.erase(found);
            } else {
                row = std::make_unique<CItemData>();
                row->flags = ROW_OVERVIEW;
                row->kind = &OverviewRowKind();
                row->subenc = subenc;
            }
            rows_.push_back(row.get());
            overview_.emplace(subenc.get(), std::move(row));
        }
    }
    // Rows left in `old` belong to sub-enclosures that are gone; they go now.
    old.clear();
    // The same rows in the same order: the one-second pass repaints what
    // changed within them.
    if (rows_ == before) return;
    RowsChanged();
    update();
}

bool CElemListBox::ConfigurationChanged() const {
    CSubEnc* subenc = current_.get();
    std::lock_guard lock(subenc->mutex);
    if (subenc->elements.size() != built_element_count_) return true;
    for (const auto& item : items_) {
        for (const auto& member : item->member_rows) {
            if (member->element && !member->element->InMap()) return true;
        }
    }
    return false;
}

// Builds the view again after the enclosure's configuration changed, with
// the same groups open and the same group at the top.
void CElemListBox::RebuildKeepingView() {
    std::set<std::pair<int, uint8_t>> open;
    std::optional<std::pair<int, uint8_t>> top_group;
    for (int i = 0; i < int(rows_.size()); ++i) {
        const CItemData* row = rows_[size_t(i)];
        if (!(row->flags & ROW_GROUP_HEADER) || (row->flags & ROW_PANEL)) continue;
        if (row->flags & ROW_EXPANDED) open.insert({row->group_row, row->type_desc_index});
        if (i <= TopRow()) top_group = std::pair(row->group_row, row->type_desc_index);
    }
    const ZoningEditor::KeptEdits zone_edits = zoning_->Keep();
    rows_.clear();
    ClearHot();
    ClearElementRows();
    LayOutPanelAndZoning();
    BuildElementRows();
    zoning_->PutBack(zone_edits);
    PlaceTopRow(0);
    for (int i = 0; i < int(rows_.size()); ++i) {
        CItemData* row = rows_[size_t(i)];
        const std::pair key(row->group_row, row->type_desc_index);
        if (!(row->flags & ROW_PANEL) && (row->flags & ROW_GROUP_HEADER) && open.count(key)) {
            ToggleGroup(i);
        }
    }
    for (int i = 0; top_group && i < int(rows_.size()); ++i) {
        const CItemData* row = rows_[size_t(i)];
        if ((row->flags & ROW_GROUP_HEADER) && !(row->flags & ROW_PANEL) &&
            std::pair(row->group_row, row->type_desc_index) == *top_group) {
            PlaceTopRow(i);
        }
    }
    RowsChanged();
    update();
}

void CElemListBox::InsertRows(int at, const std::vector<CItemData*>& rows) {
    rows_.insert(rows_.begin() + at, rows.begin(), rows.end());
    RowsInserted(at, int(rows.size()));
}

void CElemListBox::RemoveRows(int from, int count) {
    rows_.erase(rows_.begin() + from, rows_.begin() + from + count);
    RowsRemoved(from, count);
}

void CElemListBox::ToggleGroup(int row) {
    CItemData* header = Row(row);
    if (!header || !(header->flags & ROW_GROUP_HEADER)) return;
    if (header->flags & ROW_EXPANDED) {
        header->flags &= ~uint32_t(ROW_EXPANDED);
        int end = row + 1;
        while (end < int(rows_.size()) && !(rows_[size_t(end)]->flags & ROW_GROUP_HEADER))
            ++end;
        RemoveRows(row + 1, end - row - 1);
    } else {
        header->flags |= ROW_EXPANDED;
        std::vector<CItemData*> members;
        for (auto& member : header->member_rows)
            members.push_back(member.get());
        InsertRows(row + 1, members);
    }
    ClearHot();
    RowsChanged();
    update();
}

// ---- rows and geometry --------------------------------------------------------

CItemData* CElemListBox::Row(int row) const {
    return row >= 0 && row < int(rows_.size()) ? rows_[size_t(row)] : nullptr;
}

int CElemListBox::RowHeight(int index) const {
    const CItemData* row = Row(index);
    if (!row) return 0;
    const Look& look = *look_;
    if (row->flags & (ROW_GROUP_HEADER | ROW_OVERVIEW)) return look.header_height;
    if (row->flags & ROW_PANEL) return panel_->Height();
    if (row->flags & ROW_ZONING_HEAD) return zoning_->Geometry().head_height;
    const ElementGroup* group = GroupAt(row->group_row);
    if (!row->element || !group) return look.other_row_height;
    // The group table says which height a group's rows have.
    switch (group->row_size) {
        case RowSize::kSlot:
            return look.slot_row_height;
        case RowSize::kStatusIcons:
            return look.psu_row_height;
        case RowSize::kChart:
            return look.SensorRowHeight(row->chart.geometry.height);
        case RowSize::kPort:
            return look.port_row_height;
        case RowSize::kZoning:
            return zoning_->Geometry().row_height;
        case RowSize::kTwoLines:
            break;
    }
    return look.other_row_height;
}

int CElemListBox::ContentWidth() const {
    return std::min(ListWidth(), look_->chart.BlockWidth() + 178);
}

// ---- refresh ------------------------------------------------------------------

int CElemListBox::RefreshPass() {
    if (!current_) return show_welcome_ || modal_depth_ > 0 ? 0 : RefreshOverview();
    if (ConfigurationChanged()) {
        // Rows of elements that are gone must not outlive a modal wait that
        // may still use them: the rebuild waits for it.
        if (modal_depth_ > 0) {
            rebuild_pending_ = true;
            return 0;
        }
        rebuild_pending_ = false;
        RebuildKeepingView();
        return int(rows_.size());
    }
    int changed = 0;
    if (ShowsCurrentValues() != shown_current_) {
        shown_current_ = !shown_current_;
        update();  // the wash over values that are no longer current comes or goes
        ++changed;
    }
    for (auto& item : items_) {
        if (item->flags & ROW_PANEL) {
            CItemData& body = *item->member_rows.front();
            const uint32_t indicators =
                current_->indicators & (kIndicatorUidLed | kIndicatorBuzzer);
            if (indicators != body.shown_state) {
                body.shown_state = indicators;
                body.flags |= ROW_DIRTY;
                ++changed;
            }
            continue;
        }
        changed += RefreshGroup(*item);
    }
    RepaintDirtyRows();
    return changed;
}

// Compares the group's rows with their elements and marks those that differ
// dirty; returns how many rows changed.
int CElemListBox::RefreshGroup(CItemData& header) {
    int failed = 0;
    int changed = 0;
    for (auto& member : header.member_rows) {
        CItemData& row = *member;
        if (!row.element) continue;  // zoning head rows
        if ((row.flags & ROW_ZONE) && zoning_->Refresh(row)) ++changed;
        const CSesElem& element = *row.element;
        bool row_changed = (row.flags & ROW_HAS_CHART) && row.chart.Advance(look_->chart, element);
        const uint8_t status = element.raw_status[0] & 0x0F;
        if ((row.flags & ROW_TRACK_STATUS) &&
            (element.state != row.shown_state || status != row.shown_status)) {
            row.shown_state = element.state;
            row.shown_status = status;
            row_changed = true;
        }
        if (row_changed) {
            row.flags |= ROW_DIRTY;
            ++changed;
        }
        if (!(row.flags & ROW_TRACK_STATUS)) continue;
        if (IsFault(element)) {
            row.flags |= ROW_FAILED;
            ++failed;
        } else {
            row.flags &= ~uint32_t(ROW_FAILED);
        }
    }
    if (failed != header.group_count) {
        header.group_count = failed;
        header.flags |= ROW_DIRTY;
        ++changed;
    }
    return changed;
}

void CElemListBox::RepaintDirtyRows() {
    QRegion region;
    int y = 0;
    for (int i = TopRow(); i < int(rows_.size()) && y < height(); ++i) {
        const int h = RowHeight(i);
        if (rows_[size_t(i)]->flags & ROW_DIRTY) region += QRect(0, y, ListWidth(), h);
        y += h;
    }
    if (!region.isEmpty()) repaint(region);
}

// ---- painting -----------------------------------------------------------------

// The window went to a screen of another pixel ratio: the charts are
// pictures drawn for the old one, and are drawn again for the new.
void CElemListBox::FollowPixelRatio() {
    const qreal ratio = devicePixelRatioF();
    // Rows in use by a modal wait stay until it ends; a later paint catches up.
    if (qFuzzyCompare(ratio, look_->chart.pixel_ratio) || modal_depth_ > 0) return;
    look_ = std::make_unique<Look>(ratio);
    if (current_) RebuildKeepingView();
}

void CElemListBox::paintEvent(QPaintEvent* event) {
    FollowPixelRatio();
    QPainter painter(this);
    if (show_welcome_ && !current_) {
        PaintWelcome(painter);
        return;
    }
    const int y = PaintRows(painter, event->region());
    if (y < height()) painter.fillRect(QRect(0, y, width(), height() - y), look_->row_background);
    if (!ShowsCurrentValues()) {
        // The last values read stay readable, but plainly not live.
        QColor wash = look_->row_background;
        wash.setAlpha(150);
        painter.fillRect(QRect(0, 0, ListWidth(), height()), wash);
        PaintStaleBanner(painter);
    }
}

// Across the top, whatever is scrolled there: since when the values are old.
void CElemListBox::PaintStaleBanner(QPainter& p) {
    const QFontMetrics metrics(look_->header_font);
    const QRect band(0, 0, ListWidth(), metrics.height() + 16);
    p.fillRect(band, look_->row_background);
    p.setPen(look_->separator);
    p.drawLine(band.bottomLeft(), band.bottomRight());
    p.setFont(look_->header_font);
    p.setPen(look_->condition_fail);
    const QRect text = band.adjusted(15, 0, -15, 0);
    p.drawText(
        text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
        metrics.elidedText(StaleText(LastReadTime(*current_)), Qt::ElideRight, text.width()));
}

bool CElemListBox::ShowsCurrentValues() const {
    return !current_ || IsCurrent(*current_);
}

// Before the operator has chosen anything: the welcome picture and text.
void CElemListBox::PaintWelcome(QPainter& p) {
    const Look& look = *look_;
    p.fillRect(rect(), look.welcome_background);
    const CImageList& picture = look.welcome_picture;
    if (picture.empty()) return;
    const QPoint at((width() - picture.cell_width()) / 2, height() / 3 - picture.cell_height() / 2);
    picture.Draw(p, 0, at);
    p.setFont(look.welcome_font);
    p.setPen(look.welcome_text);
    const int top = at.y() + picture.cell_height() + 40;
    p.drawText(QRect(20, top, width() - 40, height() - top),
               Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, LoadQString(kWelcomeText));
}

void CElemListBox::PaintRow(QPainter& p, int index, const QRect& r) {
    CItemData& row = *rows_[size_t(index)];
    p.save();
    p.translate(r.topLeft());
    p.setClipRect(QRect(QPoint(0, 0), r.size()));
    const QRect local(QPoint(0, 0), r.size());
    p.fillRect(local, look_->row_background);
    if (row.kind) row.kind->Paint({p, local, row, index, *this});
    p.restore();
    row.flags &= ~uint32_t(ROW_DIRTY);
    painted_rows_.insert(index);
}

void CElemListBox::resizeEvent(QResizeEvent*) {
    if (current_) LayOutPanelAndZoning();
    RowsChanged();
}

void CElemListBox::LayOutPanelAndZoning() {
    panel_->Layout(*look_, std::min(ListWidth() - 12, ContentWidth()));
    zoning_->Layout(std::min(ListWidth(), ContentWidth()) - 12, look_->element_font);
}

}  // namespace halvorin
