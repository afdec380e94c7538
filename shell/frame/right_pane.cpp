#include "shell/frame/right_pane.h"

#include "enclosure/model/display_name.h"
#include "enclosure/model/ses_dev.h"
#include "enclosure/model/ses_domain.h"
#include "enclosure/model/sub_enc.h"
#include "shell/frame/right_tool_bar.h"
#include "shell/theme/string_resources.h"
#include "views/elem_list_box.h"

namespace halvorin {

namespace {
constexpr int kDashboardTitle = 170;
}

CRightPane::CRightPane(DomainRegistry* registry, QWidget* parent) : QWidget(parent) {
    setObjectName("RightPane");
    title_bar_ = new CRightToolBar(this);
    title_bar_->hide();
    list_ = new CElemListBox(registry, this);
    connect(title_bar_, &CRightToolBar::Command, list_, [this](int id) {
        if (id == CRightToolBar::kQuickJumpCommand) list_->OpenQuickJump();
    });
    connect(list_, &CElemListBox::OpenSubEnc, this, &CRightPane::OpenSubEnc);
    connect(list_, &CElemListBox::SubEncRenamed, this, [this](CSubEnc* subenc) {
        if (subenc == subject_.get()) ShowTitle();
        emit SubEncRenamed(subenc);
    });
}

CRightPane::~CRightPane() = default;

void CRightPane::ShowSubject(CSubEnc* subenc) {
    const bool changed = subenc != subject_.get() || (!subenc && !dashboard_);
    if (subenc && subenc != subject_.get()) {
        subject_ = Ref<CSubEnc>::Share(subenc);
        list_->ShowSubEnc(subenc);
    } else if (!subenc) {
        subject_.reset();
        if (!dashboard_ || list_->CurrentSubEnc()) list_->ShowSubEnc(nullptr);
    }
    dashboard_ = !subenc;
    if (changed) ShowTitle();
}

bool CRightPane::MayLeaveShown() {
    return list_->MayLeave();
}

void CRightPane::FocusView() {
    list_->setFocus(Qt::OtherFocusReason);
}

void CRightPane::ClearView() {
    // What was shown is gone: the overview of what is left takes its place.
    ShowSubject(nullptr);
}

void CRightPane::RefreshSubject() {
    if (subject_ || dashboard_) ShowTitle();
    if (!list_->CurrentSubEnc() && !list_->ShowsWelcome()) list_->BuildOverviewRows();
}

QString CRightPane::SubjectTitle() const {
    if (!subject_) return LoadQString(kDashboardTitle);
    const QString host = QString::fromStdU16String(subject_->dev->domain->host_name);
    return host + " > " + QString::fromStdU16String(EnclosureDisplayName(subject_.get()));
}

void CRightPane::ShowTitle() {
    title_bar_->SetTitle(SubjectTitle());
    list_->setAccessibleName(SubjectTitle());
    title_bar_->ShowQuickJump(static_cast<bool>(subject_));
    if (!title_bar_->isVisible()) {
        title_bar_->show();
        LayOut();
    }
}

void CRightPane::resizeEvent(QResizeEvent*) {
    LayOut();
}

void CRightPane::LayOut() {
    const int top = title_bar_->isVisible() ? title_bar_->height() : 0;
    title_bar_->setGeometry(0, 0, width(), title_bar_->height());
    list_->setGeometry(0, top, width(), height() - top);
}

}  // namespace halvorin
