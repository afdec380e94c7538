// CRightPane: the right column of the main window: the title bar over the
// element view. It shows one enclosure ("host > enclosure", with the quick
// jump) or the dashboard, the overview of every enclosure. The left pane
// drives it through RightPaneLink.
#pragma once

#include <QWidget>

#include "enclosure/model/model_ref.h"
#include "shell/tree/right_pane_link.h"

namespace halvorin {

class CElemListBox;
class CRightToolBar;
class DomainRegistry;

class CRightPane : public QWidget, public RightPaneLink {
    Q_OBJECT

  public:
    CRightPane(DomainRegistry* registry, QWidget* parent);
    ~CRightPane() override;

    // An enclosure, or with none the dashboard.
    void ShowSubject(CSubEnc* subenc);
    // The set of enclosures changed: the title follows, the overview is rebuilt.
    void RefreshSubject();

    // RightPaneLink.
    void ShowSubEnclosure(CSubEnc* subenc) override { ShowSubject(subenc); }
    void ShowDashboard() override { ShowSubject(nullptr); }
    void ClearView() override;
    void RefreshView() override { RefreshSubject(); }
    CSubEnc* ShownSubEnclosure() const override { return subject_.get(); }
    bool MayLeaveShown() override;
    void FocusView() override;

    bool Dashboard() const { return dashboard_; }
    CElemListBox* List() const { return list_; }
    CRightToolBar* TitleBar() const { return title_bar_; }

  signals:
    // An overview row asks to open this enclosure.
    void OpenSubEnc(CSubEnc* subenc);
    // The operator renamed this enclosure.
    void SubEncRenamed(CSubEnc* subenc);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    QString SubjectTitle() const;
    void ShowTitle();
    void LayOut();

    CRightToolBar* title_bar_ = nullptr;  // children: Qt owns them
    CElemListBox* list_ = nullptr;
    Ref<CSubEnc> subject_;
    bool dashboard_ = false;
};

}  // namespace halvorin
