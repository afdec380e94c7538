// The right side of the main window until its real pane with toolbars is
// built: the welcome picture and text while nothing is chosen, otherwise
// the element list of the enclosure chosen in the tree (or the overview).
#pragma once

#include <QFont>
#include <QImage>
#include <QWidget>

#include "shell/tree/right_pane_link.h"

namespace halvorin {

class CElemListBox;
class DomainRegistry;

class StandInRightPane : public QWidget, public RightPaneLink {
    Q_OBJECT

  public:
    StandInRightPane(DomainRegistry* registry, QWidget* parent);

    void ShowSubEnclosure(CSubEnc* subenc) override;
    void ShowDashboard() override;
    void ClearView() override;
    void RefreshView() override;
    CSubEnc* ShownSubEnclosure() const override;

    CElemListBox* List() const { return list_; }
    bool ShowsWelcome() const;

  signals:
    void OpenSubEnc(CSubEnc* subenc);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    CElemListBox* list_ = nullptr;  // a child: Qt owns it
    QColor background_, text_colour_;
    QFont font_;
    QImage picture_;
};

}  // namespace halvorin
