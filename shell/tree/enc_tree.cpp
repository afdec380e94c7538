#include "shell/tree/enc_tree.h"

#include "shell/tree/enc_tree_nodes.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <algorithm>
#include <unordered_set>

#include "enclosure/model/display_name.h"
#include "enclosure/model/domain_registry.h"
#include "enclosure/model/reachability.h"
#include "enclosure/model/ses_domain.h"
#include "enclosure/model/sub_enc.h"
#include "shell/theme/shared_look.h"
#include "shell/theme/stale_text.h"
#include "shell/theme/string_resources.h"
#include "shell/tree/enc_tree_look.h"
#include "shell/tree/right_pane_link.h"
#include "shell/widgets/tree_ctrl_scroll_bar.h"

namespace halvorin {

using namespace enc_tree;

namespace {

constexpr int kArmToolTip = 82;
constexpr int kDeleteToolTip = 83;

// Every row is as high as the tree says.
class RowHeightDelegate : public QStyledItemDelegate {
  public:
    RowHeightDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}
    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return {1, height_};
    }

  private:
    int height_;
};

bool SameEnclosure(const SubEncSummary& a, const SubEncSummary& b) {
    return a.logical_id == b.logical_id &&
           QString::fromStdString(a.product).compare(QString::fromStdString(b.product),
                                                     Qt::CaseInsensitive) == 0;
}

QString DisplayName(CSubEnc* subenc) {
    return QString::fromStdU16String(EnclosureDisplayName(subenc));
}

}  // namespace

CEncTree::CEncTree(QWidget* parent) : QTreeView(parent), look_(std::make_unique<EncTreeLook>()) {
    row_height_ = look_->row_height;
    setModel(&model_);
    setItemDelegate(new RowHeightDelegate(row_height_, this));
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setIndentation(0);
    setUniformRowHeights(true);
    setExpandsOnDoubleClick(false);
    setItemsExpandable(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setFrameShape(QFrame::NoFrame);
    setMouseTracking(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    QPalette palette = viewport()->palette();
    palette.setColor(QPalette::Base, look_->background);
    viewport()->setPalette(palette);
    scroll_bar_ = std::make_unique<CTreeCtrlSB>(
        this, [this](int width) { setViewportMargins(0, 0, width, 0); });
    scroll_bar_->SetColours({look_->bar_track, look_->bar_line, look_->bar_track, look_->bar_thumb,
                             look_->bar_hot_thumb});
    blink_.setInterval(kBlinkMs);
    connect(&blink_, &QTimer::timeout, this, &CEncTree::BlinkTick);
    blink_.start();
}

CEncTree::~CEncTree() {
    scroll_bar_.reset();
    refreshing_ = true;  // nothing the model does now is a selection
    model_.clear();
    hosts_.clear();
}

// ---- finding nodes -------------------------------------------------------------------------

CEncTree::HostNode* CEncTree::FindHost(CSesDomain* domain) const {
    const auto found = host_index_.find(domain);
    return found == host_index_.end() ? nullptr : found->second;
}

CEncTree::HostNode* CEncTree::HostAtRow(int row) const {
    return row >= 0 && row < int(hosts_.size()) ? hosts_[size_t(row)].get() : nullptr;
}

CSesDomain* CEncTree::Host(int index) const {
    const HostNode* host = HostAtRow(index);
    return host ? host->domain.get() : nullptr;
}

CEncTree::SubEncNode* CEncTree::FindSubEnc(CSubEnc* subenc, HostNode** host_out) const {
    if (!subenc) return nullptr;
    for (const auto& host : hosts_) {
        for (const auto& child : host->children) {
            if (child->subenc.get() != subenc) continue;
            if (host_out) *host_out = host.get();
            return child.get();
        }
    }
    return nullptr;
}

QStandardItem* CEncTree::ItemOf(const HostNode& host) const {
    for (size_t i = 0; i < hosts_.size(); ++i) {
        if (hosts_[i].get() == &host) return model_.item(int(i));
    }
    return nullptr;
}

QModelIndex CEncTree::IndexOf(CSubEnc* subenc) const {
    HostNode* host = nullptr;
    const SubEncNode* node = FindSubEnc(subenc, &host);
    if (!node) return {};
    const QStandardItem* parent = ItemOf(*host);
    for (size_t j = 0; j < host->children.size(); ++j) {
        if (host->children[j].get() == node) return parent->child(int(j))->index();
    }
    return {};
}

std::vector<std::u16string> CEncTree::HostNames() const {
    std::vector<std::u16string> names;
    for (const auto& host : hosts_)
        names.push_back(host->domain->host_name);
    return names;
}

std::vector<CSubEnc*> CEncTree::SubEncsOf(CSesDomain* domain) const {
    std::vector<CSubEnc*> subencs;
    if (const HostNode* host = FindHost(domain)) {
        for (const auto& child : host->children)
            subencs.push_back(child->subenc.get());
    }
    return subencs;
}

CSesDomain* CEncTree::HostOf(CSubEnc* subenc) const {
    HostNode* host = nullptr;
    return FindSubEnc(subenc, &host) ? host->domain.get() : nullptr;
}

// ---- keeping the nodes up to date -----------------------------------------------------------

void CEncTree::Refresh(DomainRegistry& registry) {
    CSubEnc* selected = SelectedSubEnc();
    refreshing_ = true;
    bool removed = false;
    std::unordered_set<CSesDomain*> listed;
    for (const Ref<CSesDomain>& domain : registry.Snapshot()) {
        listed.insert(domain.get());
        HostNode* host = FindHost(domain.get());
        if (!host) host = &InsertHost(domain);
        removed |= UpdateChildren(*host);
        // A host that has just connected says so at once, not at the next blink.
        if (domain->client.state() == kStateReady && host->display_word != kStateReady) {
            host->display_word = kStateReady;
            viewport()->update();  // its enclosures are current again
        }
    }
    presence_.Follow(*this);
    for (size_t i = hosts_.size(); i-- > 0;) {
        if (!listed.count(hosts_[i]->domain.get())) {
            ReleaseHostAt(i);
            removed = true;
        }
    }
    if (selected && selected != SelectedSubEnc()) SelectSubEnc(selected);
    refreshing_ = false;
    if (removed && right_pane_) right_pane_->RefreshView();
}

bool CEncTree::AddHost(Ref<CSesDomain> domain) {
    if (!domain || FindHost(domain.get())) return false;
    InsertHost(std::move(domain));
    return true;
}

CEncTree::HostNode& CEncTree::InsertHost(Ref<CSesDomain> domain) {
    auto host = std::make_unique<HostNode>();
    host->domain = std::move(domain);
    auto* item = new QStandardItem(QString::fromStdU16String(host->domain->host_name));
    item->setFlags(Qt::ItemIsEnabled);  // hosts open and close; they are not selected
    item->setData(QVariant::fromValue(quintptr(host.get())), kNodeRole);
    HostNode& added = *host;
    host_index_[added.domain.get()] = &added;
    hosts_.push_back(std::move(host));
    model_.appendRow(item);
    return added;
}

// Matches the host's child nodes with the enclosures it reports now.
// Returns whether a node was deleted.
bool CEncTree::UpdateChildren(HostNode& host) {
    std::vector<Ref<CSubEnc>> reported = CollectSubEnclosures(host.domain.get());
    const bool had_children = !host.children.empty();
    std::vector<bool> reported_taken(reported.size(), false);
    std::vector<bool> node_kept(host.children.size(), false);
    // The same object: the common case, found without copying anything.
    for (size_t j = 0; j < host.children.size(); ++j) {
        for (size_t i = 0; i < reported.size(); ++i) {
            if (!reported_taken[i] && reported[i].get() == host.children[j]->subenc.get()) {
                reported_taken[i] = node_kept[j] = true;
                break;
            }
        }
    }
    // The same enclosure through another device (a second path): the node
    // follows the object the host reports now.
    for (size_t j = 0; j < host.children.size(); ++j) {
        if (node_kept[j]) continue;
        const SubEncSummary mine = SubEncInfo(host.children[j]->subenc.get());
        for (size_t i = 0; i < reported.size(); ++i) {
            if (reported_taken[i] || !SameEnclosure(mine, SubEncInfo(reported[i].get()))) continue;
            reported_taken[i] = node_kept[j] = true;
            FollowOver(*host.children[j], reported[i].get());
            break;
        }
    }
    bool removed = false;
    for (size_t j = host.children.size(); j-- > 0;) {
        if (node_kept[j]) continue;
        RemoveChild(host, j);
        removed = true;
    }
    for (size_t i = 0; i < reported.size(); ++i) {
        if (reported_taken[i]) continue;
        InsertChild(host, std::move(reported[i]));
    }
    if (!had_children && !host.children.empty()) setExpanded(ItemOf(host)->index(), true);
    return removed;
}

void CEncTree::FollowOver(SubEncNode& node, CSubEnc* reported) {
    const bool shown = right_pane_ && right_pane_->ShownSubEnclosure() == node.subenc.get();
    node.subenc = Ref<CSubEnc>::Share(reported);
    if (shown) right_pane_->ShowSubEnclosure(reported);
    RepaintSubEnc(reported);
}

void CEncTree::InsertChild(HostNode& host, Ref<CSubEnc> subenc) {
    auto node = std::make_unique<SubEncNode>();
    node->subenc = std::move(subenc);
    auto* item = new QStandardItem(DisplayName(node->subenc.get()));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setData(QVariant::fromValue(quintptr(node.get())), kNodeRole);
    host.children.push_back(std::move(node));
    ItemOf(host)->appendRow(item);
}

void CEncTree::RemoveChild(HostNode& host, size_t index) {
    CSubEnc* subenc = host.children[index]->subenc.get();
    // The right pane lets go first: it must never show a removed enclosure.
    if (right_pane_ && right_pane_->ShownSubEnclosure() == subenc) right_pane_->ClearView();
    ItemOf(host)->removeRow(int(index));
    host.children.erase(host.children.begin() + long(index));
}

void CEncTree::ReleaseHostAt(size_t index) {
    HostNode& host = *hosts_[index];
    for (size_t j = host.children.size(); j-- > 0;)
        RemoveChild(host, j);
    if (armed_ == host.domain.get()) armed_ = nullptr;
    if (hot_host_ == host.domain.get()) {
        hot_host_ = nullptr;
        hot_zone_ = kNoZone;
    }
    host_index_.erase(host.domain.get());
    model_.removeRow(int(index));
    hosts_.erase(hosts_.begin() + long(index));
}

void CEncTree::RemoveHost(CSesDomain* domain) {
    for (size_t i = 0; i < hosts_.size(); ++i) {
        if (hosts_[i]->domain.get() != domain) continue;
        const bool was_refreshing = std::exchange(refreshing_, true);
        ReleaseHostAt(i);
        refreshing_ = was_refreshing;
        return;
    }
}

// ---- selection -----------------------------------------------------------------------------

bool CEncTree::SelectSubEnc(CSubEnc* subenc) {
    const QModelIndex index = IndexOf(subenc);
    if (!index.isValid()) return false;
    setCurrentIndex(index);
    selectionModel()->select(index, QItemSelectionModel::ClearAndSelect);
    return true;
}

CSubEnc* CEncTree::SelectedSubEnc() const {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    if (selected.isEmpty() || !selected.front().parent().isValid()) return nullptr;
    const auto* node =
        reinterpret_cast<SubEncNode*>(selected.front().data(kNodeRole).value<quintptr>());
    return node ? node->subenc.get() : nullptr;
}

QItemSelectionModel::SelectionFlags CEncTree::selectionCommand(const QModelIndex& index,
                                                               const QEvent* event) const {
    const auto* node = index.isValid() && index.parent().isValid()
                           ? reinterpret_cast<SubEncNode*>(index.data(kNodeRole).value<quintptr>())
                           : nullptr;
    const bool leaves =
        node && right_pane_ && node->subenc.get() != right_pane_->ShownSubEnclosure();
    if (leaves && event) {
        // Dragging across the rows would ask at every row: only a press asks.
        if (event->type() == QEvent::MouseMove) return QItemSelectionModel::NoUpdate;
        if (!right_pane_->MayLeaveShown()) return QItemSelectionModel::NoUpdate;
    }
    return QTreeView::selectionCommand(index, event);
}

void CEncTree::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QTreeView::selectionChanged(selected, deselected);
    if (refreshing_) return;
    if (CSubEnc* subenc = SelectedSubEnc()) emit SubEncSelected(subenc);
}

void CEncTree::RepaintSubEnc(CSubEnc* subenc) {
    const QModelIndex index = IndexOf(subenc);
    if (!index.isValid()) return;
    model_.itemFromIndex(index)->setText(DisplayName(subenc));
    viewport()->update(RowRect(index));
}

// ---- host state and blinking ---------------------------------------------------------------

void CEncTree::BlinkTick() {
    for (const auto& host : hosts_) {
        const int state = host->domain->client.state();
        const uint16_t word =
            state == kStateReady
                ? uint16_t(kStateReady)
                : uint16_t((state & 0xff) | ((host->display_word ^ kBlinkBit) & kBlinkBit));
        if (word == host->display_word) continue;
        const bool answered = host->display_word == kStateReady;
        host->display_word = word;
        if (answered)
            viewport()->update();  // its enclosures are no longer current
        else
            RepaintHost(host->domain.get());
    }
}

uint16_t CEncTree::DisplayWord(CSesDomain* domain) const {
    const HostNode* host = FindHost(domain);
    return host ? host->display_word : 0;
}

QString CEncTree::StatusText(CSesDomain* domain) const {
    const HostNode* host = FindHost(domain);
    if (!host) return {};
    const int state = host->display_word & 0xff;
    if (state == kStateUnreachable) return LoadQString(160);
    if (state != kStateReady) return LoadQString(159);
    bool has_devices = false;
    {
        std::lock_guard lock(domain->device_lock);
        has_devices = !domain->devices.empty();
    }
    // The deadline is set by the poll step that sees the connection ready.
    if (!has_devices && domain->last_connection_state == kStateReady &&
        domain->clock.NowSeconds() >= domain->device_list_deadline)
        return LoadQString(107);
    return {};
}

bool CEncTree::StatusTextShown(CSesDomain* domain) const {
    const QString text = StatusText(domain);
    if (text.isEmpty()) return false;
    // "No device found!" stays; the connection states blink.
    return (DisplayWord(domain) & 0xff) == kStateReady || (DisplayWord(domain) & kBlinkBit) != 0;
}

// ---- geometry and zones --------------------------------------------------------------------

QRect CEncTree::RowRect(const QModelIndex& index) const {
    const QRect r = visualRect(index);
    return r.isValid() ? QRect(0, r.top(), viewport()->width(), r.height()) : QRect();
}

QRect CEncTree::HostRowRect(CSesDomain* domain) const {
    const HostNode* host = FindHost(domain);
    return host ? RowRect(ItemOf(*host)->index()) : QRect();
}

QRect CEncTree::SubEncRowRect(CSubEnc* subenc) const {
    return RowRect(IndexOf(subenc));
}

QRect CEncTree::ArmZone(const QRect& row) const {
    const int cell = 32;
    return {row.left() + (row.height() - cell) / 2, row.top() + (row.height() - cell) / 2, cell,
            cell};
}

QRect CEncTree::DeleteZone(const QRect& row) const {
    return {row.right() + 1 - row.height(), row.top(), row.height(), row.height()};
}

CEncTree::HotZone CEncTree::HotZoneAt(QPoint at, CSesDomain** host_out) const {
    // The row is found by its height alone, whatever the x position.
    const QModelIndex index = indexAt(QPoint(0, at.y()));
    if (!index.isValid() || index.parent().isValid()) return kNoZone;
    const HostNode* host = HostAtRow(index.row());
    if (!host) return kNoZone;
    if (host_out) *host_out = host->domain.get();
    if (!editing_) return kHostRow;
    const QRect row = RowRect(index);
    if (host->domain.get() == armed_) return DeleteZone(row).contains(at) ? kDeleteZone : kNoZone;
    return ArmZone(row).contains(at) ? kArmZone : kNoZone;
}

void CEncTree::RepaintHost(CSesDomain* domain) {
    const QRect r = HostRowRect(domain);
    if (!r.isEmpty()) viewport()->update(r);
}

// ---- editing and the mouse -----------------------------------------------------------------

void CEncTree::SetEditing(bool editing) {
    editing_ = editing;
    armed_ = nullptr;
    SetHot(nullptr, kNoZone);
    viewport()->update();
}

CSesDomain* CEncTree::ArmedHost() const {
    return armed_;
}

void CEncTree::Disarm() {
    CSesDomain* was = std::exchange(armed_, nullptr);
    if (was) RepaintHost(was);
}

void CEncTree::SetHot(CSesDomain* host, HotZone zone) {
    if (zone == kNoZone) host = nullptr;
    if (host == hot_host_ && zone == hot_zone_) return;
    if (hot_host_) RepaintHost(hot_host_);
    hot_host_ = host;
    hot_zone_ = zone;
    if (hot_host_) RepaintHost(hot_host_);
    viewport()->setCursor(zone == kNoZone ? Qt::ArrowCursor : Qt::PointingHandCursor);
}

void CEncTree::mouseMoveEvent(QMouseEvent* event) {
    CSesDomain* host = nullptr;
    const HotZone zone = HotZoneAt(event->position().toPoint(), &host);
    SetHot(host, zone);
}

void CEncTree::leaveEvent(QEvent* event) {
    SetHot(nullptr, kNoZone);
    QTreeView::leaveEvent(event);
}

void CEncTree::mousePressEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(QPoint(0, event->position().toPoint().y()));
    // Host rows act on button up; enclosure rows are selected as usual.
    if (index.isValid() && index.parent().isValid()) QTreeView::mousePressEvent(event);
}

void CEncTree::mouseDoubleClickEvent(QMouseEvent* event) {
    mousePressEvent(event);
}

void CEncTree::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint at = event->position().toPoint();
    const QModelIndex index = indexAt(QPoint(0, at.y()));
    const bool host_row = index.isValid() && !index.parent().isValid();
    if (!editing_) {
        if (host_row) setExpanded(index, !isExpanded(index));
        QTreeView::mouseReleaseEvent(event);
        return;
    }
    CSesDomain* host = nullptr;
    const HotZone zone = HotZoneAt(at, &host);
    if (zone == kArmZone) {
        Disarm();
        armed_ = host;
        RepaintHost(host);
    } else if (zone == kDeleteZone) {
        QToolTip::hideText();
        emit Command(kDeleteCommand);
        Disarm();
    } else if (!host_row) {
        Disarm();
    } else if (armed_) {
        RepaintHost(armed_);
    }
}

void CEncTree::keyPressEvent(QKeyEvent* event) {
    const QModelIndex index = currentIndex();
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter || !index.isValid()) {
        QTreeView::keyPressEvent(event);
        return;
    }
    if (!index.parent().isValid()) {
        setExpanded(index, !isExpanded(index));
        return;
    }
    if (!selectionModel()->isSelected(index)) {
        selectionModel()->select(index, selectionCommand(index, event));
    }
    if (right_pane_ && selectionModel()->isSelected(index)) right_pane_->FocusView();
}

bool CEncTree::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip) return QTreeView::viewportEvent(event);
    auto* help = static_cast<QHelpEvent*>(event);
    CSesDomain* host = nullptr;
    const HotZone zone = HotZoneAt(help->pos(), &host);
    if (zone == kArmZone || zone == kDeleteZone) {
        const QRect row = HostRowRect(host);
        QToolTip::showText(help->globalPos(),
                           LoadQString(zone == kArmZone ? kArmToolTip : kDeleteToolTip), viewport(),
                           zone == kArmZone ? ArmZone(row) : DeleteZone(row));
        return true;
    }
    const QString why = RowProblem(indexAt(help->pos()));
    if (why.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), why, viewport(), RowRect(indexAt(help->pos())));
    return true;
}

// A host row: why its host cannot be used; an enclosure row: since when its
// values are no longer current.
QString CEncTree::RowProblem(const QModelIndex& index) const {
    if (!index.isValid()) return {};
    if (!index.parent().isValid()) {
        const HostNode* host = HostAtRow(index.row());
        return host ? HostProblem(host->domain.get()) : QString();
    }
    const auto* node = reinterpret_cast<SubEncNode*>(index.data(kNodeRole).value<quintptr>());
    if (!node || IsCurrent(*node->subenc)) return {};
    return StaleText(LastReadTime(*node->subenc));
}

}  // namespace halvorin
