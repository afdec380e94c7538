// The system name editor of the System Information panel: a one-line text
// with a caret, painted by the panel and fed keys by the list. It keeps at
// most 32 characters, and only what fits its box.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>

class QKeyEvent;
class QPainter;

namespace halvorin {

class NameEditor {
  public:
    static constexpr int kMaxCharacters = 32;
    static constexpr int kInset = 8;

    // A new name from the enclosure: the text, the name it was loaded with,
    // the caret at its end.
    void Load(const QString& name);
    const QString& Text() const { return text_; }
    const QString& LoadedName() const { return loaded_; }
    bool Edited() const { return text_ != loaded_; }
    int Caret() const { return caret_; }

    // Where the editor sits (row coordinates) and the font it writes in.
    void Place(const QRect& box, const QFont& font);
    const QRect& Box() const { return box_; }

    // The editing keys (characters, Backspace, Delete, Home, End, Left,
    // Right, and select all, copy, cut and paste: the whole name or
    // nothing); true when the key was the editor's.
    bool Key(const QKeyEvent& event);
    bool AllSelected() const { return all_selected_; }
    // Text typed or committed by an input method, at the caret.
    bool Type(const QString& characters) { return Insert(characters); }
    // Puts the caret at the character boundary nearest to x.
    void PlaceCaretAt(int x);

    void Paint(QPainter& p, const QColor& outline, const QColor& background, const QColor& text,
               bool show_caret) const;

  private:
    bool Insert(const QString& characters);
    bool Shortcut(const QKeyEvent& event);
    bool Fits(const QString& text) const;
    int TextLeft() const { return box_.left() + kInset; }

    QString text_, loaded_;
    int caret_ = 0;
    bool all_selected_ = false;
    QRect box_;
    QFont font_;
};

}  // namespace halvorin
