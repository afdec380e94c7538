// CAgentClientBar: the "Authorized Clients:" header band over the list of
// authorised client names; commands go to the list.
#pragma once

#include <QColor>
#include <QFont>
#include <QWidget>

#include "net/ui/client_list_box.h"

namespace halvorin {

class CAgentClientBar : public QWidget {
    Q_OBJECT

  public:
    explicit CAgentClientBar(QWidget* parent);

    bool OnCommand(int command) { return list_->OnCommand(command); }
    CClientListBox* List() const { return list_; }
    int HeaderHeight() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QFont font_;
    QColor band_, line_, text_;
    CClientListBox* list_;  // a child
};

}  // namespace halvorin
