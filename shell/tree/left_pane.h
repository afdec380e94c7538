// CLeftPane: the manager's navigation in the upper left of the main
// window: the title bar "Storage Server:" with the editing toggle, the
// server entry bar and the enclosure tree. Its poll driver runs every
// host's poll step (every 100 ms, and as soon as replies arrive) and the
// tree follows the model after each step. The hosts it shows are kept in
// the setting "Domains".
#pragma once

#include <QWidget>
#include <memory>

#include "enclosure/model/model_ref.h"

namespace halvorin {

class CEncTree;
class CLeftToolBar;
class CPollDriver;
class CServerEditBar;
class DomainRegistry;
class RightPaneLink;

class CLeftPane : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kEditCommand = 246;
    static constexpr int kExitEditCommand = 247;
    static constexpr int kAddCommand = 248;
    static constexpr int kDeleteCommand = 249;
    static constexpr int kDashboardCommand = 254;

    // `registry` must outlive the pane.
    explicit CLeftPane(DomainRegistry& registry, QWidget* parent = nullptr);
    ~CLeftPane() override;

    void SetRightPane(RightPaneLink* link);
    // Adds a host for every name of "Domains" that has no node yet.
    void LoadDomains();
    // Writes the hosts' names, in tree order, to "Domains".
    void SaveDomains();
    // This computer's own agent, shown in the tree like any host but never
    // stored: its name carries the port of this run, which the next run may
    // not use.
    void SetLocalHost(std::u16string name) { local_host_ = std::move(name); }
    // Starts the poll driver (until then nothing is polled).
    void StartPolling();
    // Brings the tree up to date with the model.
    void Refresh();

    // Adds the host of that name; false when the name is refused or the
    // host is already in the tree ("Domains" is then not written).
    bool AddHost(const QString& name);
    // Commands 246 to 249 and 254; false for any other.
    bool OnCommand(int id);

    // An element view asks to open an enclosure (an overview row was clicked).
    void OpenSubEnc(CSubEnc* subenc);
    // An enclosure's system name changed.
    void SubEncRenamed(CSubEnc* subenc);

    CSesDomain* CurrentHost() const { return current_host_; }
    CEncTree* Tree() const { return tree_; }
    CLeftToolBar* ToolBar() const { return tool_bar_; }
    CServerEditBar* EditBar() const { return edit_bar_; }
    CPollDriver* Driver() const { return driver_.get(); }
    // The narrowest the pane may be: its title and button must fit.
    int MinimumPaneWidth() const;

  private:
    void DeleteArmedHost();
    void ShowDashboard();
    void SubEncSelected(CSubEnc* subenc);

    DomainRegistry& registry_;
    std::u16string local_host_;
    RightPaneLink* right_pane_ = nullptr;
    CLeftToolBar* tool_bar_ = nullptr;  // children: Qt owns them
    CServerEditBar* edit_bar_ = nullptr;
    CEncTree* tree_ = nullptr;
    std::unique_ptr<CPollDriver> driver_;
    CSesDomain* current_host_ = nullptr;  // a node holds its reference
};

}  // namespace halvorin
