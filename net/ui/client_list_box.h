// CClientListBox: the agent's list of authorised client computer names,
// each shown with its connection status ("Connected from ..."), edited in
// place. Every change is handed to the agent server and stored in
// "Clients". The agent server's notifications arrive on its own threads and
// are posted to this list, never handled there.
#pragma once

#include <QFont>
#include <QImage>
#include <QPen>
#include <QString>
#include <QWidget>
#include <memory>
#include <vector>

#include "net/agent/agent_notify.h"
#include "shell/widgets/painted_list.h"

namespace halvorin {

// Why a client name cannot be stored (kNameAccepted when it can).
enum class ClientNameVerdict { kNameAccepted, kNameEmpty, kNameTooLong, kNameListed };

// A manager sends at most this many characters of its computer name.
inline constexpr int kMaxClientNameLength = 15;

// The name as it will be stored: white space trimmed at both ends.
QString TrimmedClientName(const QString& name);
// Checks a trimmed name against the other names (letter case ignored).
ClientNameVerdict CheckClientName(const QString& name, const QStringList& others);

class CClientListBox : public CPaintedList {
    Q_OBJECT

  public:
    static constexpr int kAddCommand = 248;
    static constexpr int kDeleteCommand = 249;
    static constexpr int kMaxEntriesForAdd = 7;  // Add is offered up to this many
    static constexpr int kMaxSavedNames = 512;

    // Reads "Clients", hands the names to the agent server and registers
    // for its notifications.
    explicit CClientListBox(QWidget* parent);
    ~CClientListBox() override;

    bool OnCommand(int command);
    // A connection notice of the agent server (kind 0 connected, 1 gone);
    // the server's threads post them here.
    void OnNotify(const AGENT_NOTIFY& notify);

    int EntryCount() const { return int(entries_.size()); }
    QString Name(int entry) const { return entries_.at(size_t(entry)).name; }
    QString Status(int entry) const { return entries_.at(size_t(entry)).status; }
    QStringList Names() const;
    int Selected() const { return selected_; }
    int Editing() const { return editing_; }
    int Caret() const { return caret_; }
    // The last refusal of a name, shown under the list until the next edit.
    QString Notice() const { return notice_; }

    int RowCount() const override { return int(entries_.size()); }
    int RowHeight(int row) const override { return entries_.at(size_t(row)).height; }
    // The name and its connection status, for screen readers.
    QString RowText(int row) const override;

  signals:
    // The entries or the selection changed (the window enables its buttons).
    void Changed();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void PaintRow(QPainter& p, int row, const QRect& r) override;
    // The keyboard's row is the selected entry.
    void KeyboardMoved(int row) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    struct Entry {
        QString name;
        QString status;
        int height = 0;
    };

    static void OnServerNotify(const AGENT_NOTIFY* notify, void* context);

    void AddEntry();
    void DeleteSelected();
    void EndEdit();
    QStringList Authorize();
    void Save();
    void Measure(Entry& entry) const;
    void EntriesChanged();
    int CaretAt(const Entry& entry, int x) const;
    int TextLeft() const { return 20; }
    void InsertText(const QString& text);
    void Refuse(ClientNameVerdict verdict, const QString& name);
    void PaintEmptyList(QPainter& p) const;
    void PaintNotice(QPainter& p) const;
    QRect CaretRect() const;

    std::vector<Entry> entries_;
    int selected_ = -1;
    int editing_ = -1;
    int caret_ = 0;
    QString notice_;
    QFont name_font_, status_font_, notice_font_;
    QPen solid_pen_, dotted_pen_;
    QColor selected_background_, name_colour_, notice_colour_;
    QImage empty_list_icon_;
};

}  // namespace halvorin
