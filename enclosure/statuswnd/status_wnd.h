// CStatusWnd: the small rounded window that shows an icon and one line of
// text while an enclosure operation runs ("Muting the system buzzer ..."),
// or for a fixed time as a short notice. It is centred over its owner's
// top-level window and never takes the activation.
#pragma once

#include <QFont>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include "shell/theme/theme_color.h"

namespace halvorin {

class CStatusWnd : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kUntimed = -1;

    // Shows string `text_id` over `owner` (which owns the window; may be
    // null). A timed window (duration in ms) closes when its time is up or
    // when another window is activated, and lets clicks through; an untimed
    // one stays until its caller closes it. The window deletes itself when it
    // closes, which clears the returned pointer.
    static QPointer<CStatusWnd> ShowStatus(int text_id, QWidget* owner, int duration_ms);

    QString text() const { return text_; }
    int duration() const { return duration_; }
    bool timed() const { return duration_ != kUntimed; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    CStatusWnd(int text_id, QWidget* owner, int duration_ms);
    void LayOut();
    void OnActivationLost();
    int IconHeight() const;

    QString text_;
    int duration_ = kUntimed;
    QFont font_;
    ColorRef background_ = 0;
    ColorRef text_colour_ = 0;
    ColorRef border_ = 0;
    QTimer timer_;
};

}  // namespace halvorin
