// CServerEditBar (window class "ServerEditBar"): the entry field at the top
// of the left pane with which the operator adds a storage server. It draws
// its own rounded field, placeholder, text and caret, with an add button at
// the field's right end. A commit hands the trimmed name to the parent
// (command 248), but only a name the manager can connect to: "host",
// "host:port", "[v6addr]:port" or a bare IPv6 address. Anything else stays
// in the field, outlined, with the reason in a tool tip.
#pragma once

#include <QFont>
#include <QTimer>
#include <QWidget>

#include "shell/theme/image_list.h"
#include "shell/widgets/edit_shortcut.h"

namespace halvorin {

class CServerEditBar : public QWidget {
    Q_OBJECT

  public:
    static constexpr const char* kWindowClass = "ServerEditBar";
    static constexpr int kHeight = 37;
    static constexpr int kAddCommand = 248;
    static constexpr int kMaxNameLength = 255;
    enum Hover { kOutside = 0, kOverText = 1, kOverButton = 2 };

    explicit CServerEditBar(QWidget* parent = nullptr);

    QString text() const { return text_; }
    QString committedText() const { return committed_; }
    bool placeholderShown() const { return placeholder_shown_; }
    int caretIndex() const { return caret_; }
    Hover hover() const { return hover_; }
    bool refused() const { return refused_; }

    void SetDisabled(bool disabled);
    bool disabled() const { return disabled_; }

    QRect FieldRect() const { return field_; }
    QRect TextRect() const { return text_rect_; }
    QRect ButtonRect() const;
    // The name of the "+" button (its tool tip) and of the field (its placeholder).
    static QString AddButtonName();
    QString PlaceholderText() const { return placeholder_; }

    // Takes the text as the operator's commit: true when it was handed on.
    bool Commit();

    QSize sizeHint() const override { return {240, kHeight}; }

  signals:
    void Command(int id);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool Shortcut(EditShortcut shortcut);
    static QString Printable(const QString& characters);
    void ReplaceAll(const QString& text);
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool event(QEvent* event) override;

  private:
    void SetHover(Hover hover);
    int CaretAt(int x) const;
    void Insert(const QString& characters);
    void ShowPlaceholder();
    void Refuse();
    void ClearRefusal();

    QString text_, committed_, placeholder_;
    bool placeholder_shown_ = true;
    bool disabled_ = false;
    bool refused_ = false;
    bool caret_visible_ = false;
    bool all_selected_ = false;  // Ctrl+A: the next key replaces, Ctrl+C copies all
    Hover hover_ = kOutside;
    int caret_ = 0;
    QRect field_, text_rect_;
    QFont font_;
    QColor background_, bottom_line_, border_, border_hot_, border_refused_, dim_text_,
        text_colour_;
    CImageList add_icons_;
    QTimer caret_blink_;
};

}  // namespace halvorin
