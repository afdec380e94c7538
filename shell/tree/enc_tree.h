// CEncTree: the enclosure tree of the left pane. One root node per managed
// host and, under it, one node per enclosure the host reports now. Host
// nodes hold a counted reference on their CSesDomain, enclosure nodes one
// on their CSubEnc, so whatever a node shows stays alive while it is shown.
//
// Refresh brings the nodes up to date with the registry: it runs after each
// poll step on the interface thread, as the model does, so it reads the
// model without locks beyond the ones its snapshots take. Selecting an
// enclosure shows it in the right pane (through RightPaneLink); an
// enclosure that goes away is taken out of the right pane before its node
// goes. In editing mode a host row can be armed and then deleted
// (command 249 to the pane).
//
// Every row is drawn by the tree itself; the item texts are kept for
// screen readers and tests.
#pragma once

#include <QFont>
#include <QStandardItemModel>
#include <QTimer>
#include <QTreeView>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "enclosure/model/model_ref.h"
#include "shell/tree/host_presence.h"

namespace halvorin {

class CTreeCtrlSB;
class DomainRegistry;
struct EncTreeLook;
class RightPaneLink;

class CEncTree : public QTreeView {
    Q_OBJECT

  public:
    static constexpr int kBlinkMs = 750;
    static constexpr int kDeleteCommand = 249;
    static constexpr uint16_t kBlinkBit = 0x100;
    enum HotZone { kNoZone = 0, kHostRow = 1, kArmZone = 2, kDeleteZone = 3 };

    explicit CEncTree(QWidget* parent = nullptr);
    ~CEncTree() override;

    void SetRightPane(RightPaneLink* link) { right_pane_ = link; }

    // Nodes for the hosts of `registry` and the enclosures each reports now.
    void Refresh(DomainRegistry& registry);
    // A root node for a host, which keeps the reference; false (and the
    // reference released) when the host already has one.
    bool AddHost(Ref<CSesDomain> domain);
    // The host's node and its children go, with their references; the
    // right pane is cleared when it shows one of them.
    void RemoveHost(CSesDomain* domain);
    bool HasHost(CSesDomain* domain) const { return FindHost(domain) != nullptr; }
    // The hosts' names in tree order.
    std::vector<std::u16string> HostNames() const;
    int HostCount() const { return int(hosts_.size()); }
    // Why the host cannot be used now, for its row's tool tip; empty while it answers.
    QString HostProblem(CSesDomain* domain) const { return presence_.Problem(domain); }
    CSesDomain* Host(int index) const;
    // The enclosures under a host, in tree order (no references added).
    std::vector<CSubEnc*> SubEncsOf(CSesDomain* domain) const;
    CSesDomain* HostOf(CSubEnc* subenc) const;

    // Editing mode: host rows can be armed, and the armed one deleted.
    void SetEditing(bool editing);
    bool Editing() const { return editing_; }
    CSesDomain* ArmedHost() const;
    void Disarm();

    // Marks the enclosure's node selected; false when it has none.
    bool SelectSubEnc(CSubEnc* subenc);
    CSubEnc* SelectedSubEnc() const;
    // Repaints the enclosure's row (its name may have changed).
    void RepaintSubEnc(CSubEnc* subenc);

    // One step of the blink timer.
    void BlinkTick();
    uint16_t DisplayWord(CSesDomain* domain) const;
    // What a host row says under the name now, drawn or not ("" for none).
    QString StatusText(CSesDomain* domain) const;
    bool StatusTextShown(CSesDomain* domain) const;

    int RowHeight() const { return row_height_; }
    QRect HostRowRect(CSesDomain* domain) const;
    QRect SubEncRowRect(CSubEnc* subenc) const;
    QRect ArmZone(const QRect& row) const;
    QRect DeleteZone(const QRect& row) const;
    HotZone HotZoneAt(QPoint at, CSesDomain** host = nullptr) const;
    CTreeCtrlSB& ScrollBar() { return *scroll_bar_; }

  signals:
    void Command(int id);
    // The operator selected an enclosure.
    void SubEncSelected(CSubEnc* subenc);

  protected:
    // Enter on a host opens or closes it; on an enclosure (which the arrows
    // have already shown) it moves the keyboard to the enclosure's view.
    void keyPressEvent(QKeyEvent* event) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;
    void drawBranches(QPainter*, const QRect&, const QModelIndex&) const override {}
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    // Another enclosure is selected only once the right pane may leave
    // what it shows.
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;

  private:
    struct SubEncNode;
    struct HostNode;

    HostNode* FindHost(CSesDomain* domain) const;
    HostNode* HostAtRow(int row) const;
    SubEncNode* FindSubEnc(CSubEnc* subenc, HostNode** host = nullptr) const;
    QStandardItem* ItemOf(const HostNode& host) const;
    QModelIndex IndexOf(CSubEnc* subenc) const;
    HostNode& InsertHost(Ref<CSesDomain> domain);
    bool UpdateChildren(HostNode& host);
    void InsertChild(HostNode& host, Ref<CSubEnc> subenc);
    void RemoveChild(HostNode& host, size_t index);
    void ReleaseHostAt(size_t index);
    void FollowOver(SubEncNode& node, CSubEnc* reported);
    QString HostName(const HostNode& host) const;
    QString RowProblem(const QModelIndex& index) const;
    QRect RowRect(const QModelIndex& index) const;
    void SetHot(CSesDomain* host, HotZone zone);
    void RepaintHost(CSesDomain* domain);

    // Painting.
    void PaintHostRow(QPainter& p, const QRect& r, const HostNode& host, bool expanded) const;
    void PaintSubEncRow(QPainter& p, const QRect& r, const SubEncNode& node, bool selected) const;

    std::unique_ptr<EncTreeLook> look_;
    QStandardItemModel model_;
    std::vector<std::unique_ptr<HostNode>> hosts_;  // in tree order, as the model's root rows
    std::unordered_map<CSesDomain*, HostNode*> host_index_;
    RightPaneLink* right_pane_ = nullptr;
    std::unique_ptr<CTreeCtrlSB> scroll_bar_;
    int row_height_ = 32;
    bool editing_ = false;
    CSesDomain* armed_ = nullptr;
    CSesDomain* hot_host_ = nullptr;
    HotZone hot_zone_ = kNoZone;
    bool refreshing_ = false;  // selection changes made by Refresh are not the operator's
    QTimer blink_;
    HostPresence presence_;  // hosts and enclosures lost and back
};

}  // namespace halvorin
