#include "views/name_editor.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <algorithm>
#include <utility>

#include "shell/widgets/edit_shortcut.h"

namespace halvorin {

void NameEditor::Load(const QString& name) {
    text_ = loaded_ = name;
    caret_ = int(text_.size());
    all_selected_ = false;
}

void NameEditor::Place(const QRect& box, const QFont& font) {
    box_ = box;
    font_ = font;
}

bool NameEditor::Fits(const QString& text) const {
    return QFontMetrics(font_).horizontalAdvance(text) <= box_.width() - 2 * kInset;
}

// Characters below 32 (and so carriage return) never enter the name; a
// surrogate pair goes in whole or not at all.
bool NameEditor::Insert(const QString& characters) {
    QString accepted;
    for (QChar c : characters) {
        if (c.unicode() >= 32 && c.unicode() != 127) accepted += c;
    }
    if (accepted.isEmpty()) return false;
    const int count = int(accepted.toUcs4().size());
    if (int(text_.toUcs4().size()) + count > kMaxCharacters) return true;
    QString candidate = text_;
    candidate.insert(caret_, accepted);
    if (!Fits(candidate)) return true;
    text_ = candidate;
    caret_ += int(accepted.size());
    return true;
}

bool NameEditor::Shortcut(const QKeyEvent& event) {
    return ApplyEditShortcut(EditShortcutOf(event), text_, caret_, all_selected_,
                             [this](const QString& pasted) { Insert(pasted); });
}

bool NameEditor::Key(const QKeyEvent& event) {
    if (Shortcut(event)) return true;
    const int repeat = std::max(1, event.count());
    // Whatever edits or moves ends the selection; a character or a deletion
    // takes the whole name with it.
    const bool replacing = std::exchange(all_selected_, false);
    const bool deletes = event.key() == Qt::Key_Backspace || event.key() == Qt::Key_Delete;
    const QString typed = event.text();
    const bool types = !(event.modifiers() & (Qt::ControlModifier | Qt::AltModifier)) &&
                       std::any_of(typed.begin(), typed.end(),
                                   [](QChar c) { return c.unicode() >= 32 && c.unicode() != 127; });
    if (replacing && (deletes || types)) {
        text_.clear();
        caret_ = 0;
        if (deletes) return true;
    }
    auto step_back = [this](int from) {
        return from > 1 && text_[from - 1].isLowSurrogate() ? from - 2 : from - 1;
    };
    auto step_on = [this](int from) {
        return from + 1 < int(text_.size()) && text_[from].isHighSurrogate() ? from + 2 : from + 1;
    };
    switch (event.key()) {
        case Qt::Key_Backspace:
            for (int i = 0; i < repeat && caret_ > 0; ++i) {
                const int from = step_back(caret_);
                text_.remove(from, caret_ - from);
                caret_ = from;
            }
            return true;
        case Qt::Key_Delete:
            for (int i = 0; i < repeat && caret_ < int(text_.size()); ++i)
                text_.remove(caret_, step_on(caret_) - caret_);
            return true;
        case Qt::Key_Home:
            caret_ = 0;
            return true;
        case Qt::Key_End:
            caret_ = int(text_.size());
            return true;
        case Qt::Key_Left:
            for (int i = 0; i < repeat && caret_ > 0; ++i)
                caret_ = step_back(caret_);
            return true;
        case Qt::Key_Right:
            for (int i = 0; i < repeat && caret_ < int(text_.size()); ++i)
                caret_ = step_on(caret_);
            return true;
        default:
            all_selected_ = replacing && !types;  // a key that types nothing keeps it
            if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier)) return false;
            return Insert(event.text());
    }
}

void NameEditor::PlaceCaretAt(int x) {
    const QFontMetrics metrics(font_);
    int best = 0;
    int best_distance = std::abs(x - TextLeft());
    for (int i = 1; i <= int(text_.size()); ++i) {
        if (i < int(text_.size()) && text_[i].isLowSurrogate()) continue;
        const int distance = std::abs(x - TextLeft() - metrics.horizontalAdvance(text_.left(i)));
        if (distance < best_distance) {
            best = i;
            best_distance = distance;
        }
    }
    caret_ = best;
}

void NameEditor::Paint(QPainter& p, const QColor& outline, const QColor& background,
                       const QColor& text, bool show_caret) const {
    if (box_.width() <= 2 * kInset) return;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(outline);
    p.setBrush(background);
    p.drawRoundedRect(QRectF(box_).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setFont(font_);
    p.setPen(text);
    const QRect inner = box_.adjusted(kInset, 1, -kInset, -1);
    p.setClipRect(inner);
    if (all_selected_) {
        QColor selection = outline;
        selection.setAlpha(70);
        p.fillRect(QRect(inner.left(), inner.top(), QFontMetrics(font_).horizontalAdvance(text_),
                         inner.height()),
                   selection);
    }
    p.drawText(inner, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text_);
    if (show_caret) {
        const QFontMetrics metrics(font_);
        const int x = inner.left() + metrics.horizontalAdvance(text_.left(caret_));
        const int half = metrics.height() / 2;
        p.drawLine(x, inner.center().y() - half + 1, x, inner.center().y() + half - 1);
    }
    p.restore();
}

}  // namespace halvorin
