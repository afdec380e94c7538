#include "shell/tree/left_pane.h"

#include <QVBoxLayout>

#include "enclosure/model/domain_registry.h"
#include "enclosure/model/ses_domain.h"
#include "net/ui/server_edit_bar.h"
#include "shell/app/app_settings.h"
#include "shell/tree/enc_tree.h"
#include "shell/tree/left_tool_bar.h"
#include "shell/tree/poll_driver.h"
#include "shell/tree/right_pane_link.h"

namespace halvorin {

CLeftPane::CLeftPane(DomainRegistry& registry, QWidget* parent)
    : QWidget(parent), registry_(registry) {
    tool_bar_ = new CLeftToolBar(this);
    edit_bar_ = new CServerEditBar(this);
    tree_ = new CEncTree(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(tool_bar_);
    layout->addWidget(edit_bar_);
    layout->addWidget(tree_, 1);
    setMinimumWidth(MinimumPaneWidth());
    connect(tool_bar_, &CPaneToolBar::Command, this, &CLeftPane::OnCommand);
    connect(edit_bar_, &CServerEditBar::Command, this, &CLeftPane::OnCommand);
    connect(tree_, &CEncTree::Command, this, &CLeftPane::OnCommand);
    connect(tree_, &CEncTree::SubEncSelected, this, &CLeftPane::SubEncSelected);
}

CLeftPane::~CLeftPane() {
    driver_.reset();
    tree_->SetRightPane(nullptr);
}

int CLeftPane::MinimumPaneWidth() const {
    return tool_bar_->MinimumPaneWidth();
}

void CLeftPane::SetRightPane(RightPaneLink* link) {
    right_pane_ = link;
    tree_->SetRightPane(link);
}

void CLeftPane::StartPolling() {
    if (driver_) return;
    driver_ = std::make_unique<CPollDriver>(registry_);
    connect(driver_.get(), &CPollDriver::Stepped, this, &CLeftPane::Refresh);
}

void CLeftPane::Refresh() {
    tree_->Refresh(registry_);
    if (current_host_ && !tree_->HasHost(current_host_)) current_host_ = nullptr;
}

// ---- hosts and "Domains" -------------------------------------------------------------------

void CLeftPane::LoadDomains() {
    for (const QString& name : AppSettings().ReadNameList(AppSettings::kDomains)) {
        CSesDomain* domain = registry_.Acquire(name.toStdU16String());
        if (domain) tree_->AddHost(Ref<CSesDomain>::Adopt(domain));
    }
}

void CLeftPane::SaveDomains() {
    QStringList names;
    for (const std::u16string& name : tree_->HostNames()) {
        if (name != local_host_) names << QString::fromStdU16String(name);
    }
    AppSettings().WriteNameList(AppSettings::kDomains, names);
}

bool CLeftPane::AddHost(const QString& name) {
    if (name.isEmpty()) return false;
    CSesDomain* domain = registry_.Acquire(name.toStdU16String());
    if (!domain) return false;
    if (!tree_->AddHost(Ref<CSesDomain>::Adopt(domain))) return false;
    SaveDomains();
    if (driver_) driver_->Tick();  // connect at once rather than at the next tick
    return true;
}

void CLeftPane::DeleteArmedHost() {
    CSesDomain* armed = tree_->ArmedHost();
    if (!armed) return;
    const Ref<CSesDomain> host = Ref<CSesDomain>::Share(armed);
    tree_->RemoveHost(host.get());
    if (current_host_ == host.get()) {
        current_host_ = nullptr;
        if (right_pane_) right_pane_->ClearView();
    }
    // The connection closes and every request still pending ends.
    registry_.Remove(host.get());
    if (right_pane_) right_pane_->RefreshView();
    SaveDomains();
}

// ---- commands and notifications ------------------------------------------------------------

bool CLeftPane::OnCommand(int id) {
    switch (id) {
        case kEditCommand:
        case kExitEditCommand:
            tree_->SetEditing(id == kEditCommand);
            return true;
        case kAddCommand:
            AddHost(edit_bar_->committedText());
            return true;
        case kDeleteCommand:
            DeleteArmedHost();
            return true;
        case kDashboardCommand:
            ShowDashboard();
            return true;
        default:
            return false;
    }
}

void CLeftPane::ShowDashboard() {
    if (right_pane_ && right_pane_->ShownSubEnclosure() && !right_pane_->MayLeaveShown()) return;
    if (CSubEnc* selected = tree_->SelectedSubEnc()) current_host_ = tree_->HostOf(selected);
    if (right_pane_) right_pane_->ShowDashboard();
}

void CLeftPane::SubEncSelected(CSubEnc* subenc) {
    current_host_ = tree_->HostOf(subenc);
    if (right_pane_) right_pane_->ShowSubEnclosure(subenc);
}

void CLeftPane::OpenSubEnc(CSubEnc* subenc) {
    if (!tree_->HostOf(subenc)) return;
    // The tree's selection change shows it in the right pane.
    if (tree_->SelectedSubEnc() == subenc) {
        SubEncSelected(subenc);
    } else {
        tree_->SelectSubEnc(subenc);
    }
}

void CLeftPane::SubEncRenamed(CSubEnc* subenc) {
    if (!tree_->HostOf(subenc)) return;
    tree_->RepaintSubEnc(subenc);
    if (right_pane_) right_pane_->ShowSubEnclosure(subenc);
}

}  // namespace halvorin
