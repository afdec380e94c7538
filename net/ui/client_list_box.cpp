#include "net/ui/client_list_box.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <QFontMetrics>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cstring>

#include "base/string_table.h"
#include "base/text_format.h"
#include "base/utf16.h"
#include "net/agent/agent_service.h"
#include "shell/app/app_settings.h"
#include "shell/theme/image_list.h"
#include "shell/theme/shared_look.h"
#include "shell/theme/string_resources.h"
#include "shell/theme/theme_color.h"
#include "shell/theme/theme_font.h"
#include "shell/widgets/post_to_ui.h"

namespace halvorin {

namespace {

constexpr int kConnectedFrom = 286;
constexpr int kEmptyListText = 287;
constexpr int kNameEmptyText = 289;
constexpr int kNameTooLongText = 290;
constexpr int kNameListedText = 291;
constexpr int kTooManyNamesText = 301;
constexpr int kEmptyListIcon = 301;
constexpr int kPadding = 8;
constexpr int kStatusGap = 4;
constexpr int kRightMargin = 8;  // text stops this far from the right edge

// "a.b.c.d:port", or empty when the record holds no IPv4 address.
QString PeerAddressText(const AGENT_NOTIFY& notify) {
    if (notify.address_length != sizeof(sockaddr_in)) return {};
    sockaddr_in address{};
    std::memcpy(&address, notify.peer_address, sizeof address);
    if (address.sin_family != AF_INET) return {};
    char text[64] = {};
    if (!inet_ntop(AF_INET, &address.sin_addr, text, sizeof text)) return {};
    return QString("%1:%2").arg(QString::fromLatin1(text)).arg(ntohs(address.sin_port));
}

QString NameOfRecord(const AGENT_NOTIFY& notify) {
    const auto* end =
        std::find(std::begin(notify.client_name), std::end(notify.client_name), u'\0');
    return QString::fromStdU16String(std::u16string(notify.client_name, end));
}

}  // namespace

QString TrimmedClientName(const QString& name) {
    return name.trimmed();
}

ClientNameVerdict CheckClientName(const QString& name, const QStringList& others) {
    if (name.isEmpty()) return ClientNameVerdict::kNameEmpty;
    if (name.size() > kMaxClientNameLength) return ClientNameVerdict::kNameTooLong;
    if (others.contains(name, Qt::CaseInsensitive)) return ClientNameVerdict::kNameListed;
    return ClientNameVerdict::kNameAccepted;
}

CClientListBox::CClientListBox(QWidget* parent) : CPaintedList(parent) {
    setAttribute(Qt::WA_InputMethodEnabled);
    name_font_ = LoadAppFont(980, FontSize(14, 700));
    status_font_ = CreateThemeFont({12, 400, AppFontFace(), kClearTypeQuality});
    notice_font_ = status_font_;
    const QColor separator = LoadThemeQColor(760, Rgb(0xcc, 0xcc, 0xcc));
    solid_pen_ = QPen(separator, 1, Qt::SolidLine);
    dotted_pen_ = QPen(separator, 1, Qt::DotLine);
    selected_background_ = LoadThemeQColor(761, Rgb(0xf3, 0xf3, 0xf3));
    name_colour_ = LoadThemeQColor(759, Rgb(0x66, 0x66, 0x66));
    notice_colour_ = LoadThemeQColor(644, Rgb(0x67, 0x0b, 0x00));
    empty_list_icon_ = LoadBitmapResource(kEmptyListIcon).value_or(QImage());

    // A hand-edited value may hold blanks, empty lines or a name twice;
    // only what the editor itself would accept becomes an entry, and only
    // the first kMaxSavedNames of them. The stored value is left as it is
    // until the operator edits the list.
    int usable = 0;
    for (const QString& stored : AppSettings().ReadNameList(AppSettings::kClients)) {
        const QString name = TrimmedClientName(stored);
        if (name.isEmpty() || Names().contains(name, Qt::CaseInsensitive)) continue;
        if (++usable > kMaxSavedNames) continue;
        entries_.push_back({name, {}, 0});
        Measure(entries_.back());
    }
    if (usable > kMaxSavedNames) {
        notice_ = QString::fromStdU16String(FormatString(
            LoadString(kTooManyNamesText), {int64_t(kMaxSavedNames), int64_t(usable)}));
    }
    Authorize();
    ServerSetNotify(&CClientListBox::OnServerNotify, this);
}

CClientListBox::~CClientListBox() {
    // Once this returns no notification for this list is on its way in;
    // those already posted die with the object.
    ServerClearNotify(this);
    DropScrollBar();
}

QStringList CClientListBox::Names() const {
    QStringList names;
    for (const Entry& entry : entries_)
        names << entry.name;
    return names;
}

// Runs on an agent thread with the server's authorisation lock held: copy
// the record and post it, nothing more.
void CClientListBox::OnServerNotify(const AGENT_NOTIFY* notify, void* context) {
    auto* list = static_cast<CClientListBox*>(context);
    PostToUi(list, [list, record = *notify] { list->OnNotify(record); });
}

void CClientListBox::OnNotify(const AGENT_NOTIFY& notify) {
    if (notify.kind != kClientAuthorized && notify.kind != kClientGone) return;
    const QString name = NameOfRecord(notify);
    auto found = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& entry) {
        return entry.name.compare(name, Qt::CaseInsensitive) == 0;
    });
    if (found == entries_.end()) return;
    found->status =
        notify.kind == kClientGone
            ? QString()
            : QString::fromStdU16String(FormatString(LoadString(kConnectedFrom),
                                                     {PeerAddressText(notify).toStdU16String()}));
    Measure(*found);
    EntriesChanged();
}

bool CClientListBox::OnCommand(int command) {
    if (command == kAddCommand) {
        AddEntry();
        return true;
    }
    if (command == kDeleteCommand) {
        DeleteSelected();
        return true;
    }
    return false;
}

void CClientListBox::AddEntry() {
    EndEdit();
    if (EntryCount() > kMaxEntriesForAdd) return;
    notice_.clear();
    entries_.push_back({});
    Measure(entries_.back());
    selected_ = editing_ = EntryCount() - 1;
    caret_ = 0;
    setFocus(Qt::OtherFocusReason);
    EntriesChanged();
    SetCurrentRow(editing_);
}

void CClientListBox::DeleteSelected() {
    EndEdit();
    if (selected_ < 0 || selected_ >= EntryCount()) return;
    entries_.erase(entries_.begin() + selected_);
    RowsRemoved(selected_, 1);
    selected_ = -1;
    Save();
    EntriesChanged();
}

void CClientListBox::EndEdit() {
    if (editing_ < 0) return;
    const int edited = std::exchange(editing_, -1);
    Entry& entry = entries_[size_t(edited)];
    entry.name = TrimmedClientName(entry.name);
    QStringList others = Names();
    others.removeAt(edited);
    const ClientNameVerdict verdict = CheckClientName(entry.name, others);
    if (verdict != ClientNameVerdict::kNameAccepted) {
        Refuse(verdict, entry.name);
        const auto listed_at =
            std::find_if(others.begin(), others.end(), [&](const QString& other) {
                return other.compare(entry.name, Qt::CaseInsensitive) == 0;
            });
        const int listed = listed_at == others.end() ? -1 : int(listed_at - others.begin());
        entries_.erase(entries_.begin() + edited);
        RowsRemoved(edited, 1);
        selected_ = listed < 0 ? -1 : listed;  // the others keep their order
        EntriesChanged();
        return;
    }
    entry.status.clear();
    Measure(entry);
    Save();
    EntriesChanged();
}

void CClientListBox::Refuse(ClientNameVerdict verdict, const QString& name) {
    switch (verdict) {
        case ClientNameVerdict::kNameEmpty:
            notice_ = LoadQString(kNameEmptyText);
            break;
        case ClientNameVerdict::kNameTooLong:
            notice_ = QString::fromStdU16String(
                FormatString(LoadString(kNameTooLongText), {int64_t(kMaxClientNameLength)}));
            break;
        case ClientNameVerdict::kNameListed:
            notice_ = QString::fromStdU16String(
                FormatString(LoadString(kNameListedText), {name.toStdU16String()}));
            break;
        case ClientNameVerdict::kNameAccepted:
            break;
    }
}

// Hands the listed names (at most kMaxSavedNames) to the agent.
QStringList CClientListBox::Authorize() {
    QStringList names = Names();
    if (names.size() > kMaxSavedNames) names = names.mid(0, kMaxSavedNames);
    names.removeAll(QString());  // the entry being added is not a name yet
    std::vector<std::u16string> authorized;
    for (const QString& name : names)
        authorized.push_back(name.toStdU16String());
    ServerSetAuthorized(std::move(authorized));
    return names;
}

void CClientListBox::Save() {
    AppSettings().WriteNameList(AppSettings::kClients, Authorize());
}

void CClientListBox::Measure(Entry& entry) const {
    int height = kPadding + QFontMetrics(name_font_).height() + kPadding;
    if (!entry.status.isEmpty()) height += kStatusGap + QFontMetrics(status_font_).height();
    entry.height = height;
}

void CClientListBox::EntriesChanged() {
    RowsChanged();
    update();
    emit Changed();
}

// ---- geometry and scrolling ------------------------------------------------------

QString CClientListBox::RowText(int row) const {
    if (row < 0 || row >= EntryCount()) return {};
    const Entry& entry = entries_[size_t(row)];
    return entry.status.isEmpty() ? entry.name : entry.name + ", " + entry.status;
}

// The caret index nearest to `x`: a binary search over the prefix widths.
int CClientListBox::CaretAt(const Entry& entry, int x) const {
    const QFontMetrics metrics(name_font_);
    const int target = x - TextLeft();
    int low = 0, high = int(entry.name.size());
    while (low < high) {
        const int middle = (low + high) / 2;
        const int left = metrics.horizontalAdvance(entry.name.left(middle));
        const int right = metrics.horizontalAdvance(entry.name.left(middle + 1));
        if (target < (left + right) / 2)
            high = middle;
        else
            low = middle + 1;
    }
    return low;
}

QRect CClientListBox::CaretRect() const {
    const QRect r = RowRect(editing_);
    if (r.isEmpty()) return {};
    const Entry& entry = entries_[size_t(editing_)];
    const QFontMetrics metrics(name_font_);
    const int name_height = metrics.height();
    const int x = TextLeft() + metrics.horizontalAdvance(entry.name.left(caret_));
    return QRect(x, r.top() + kPadding + (name_height - 16) / 2, 2, 16);
}

// ---- input -----------------------------------------------------------------------

void CClientListBox::mousePressEvent(QMouseEvent* event) {
    const int entry = RowAt(event->position().toPoint());
    if (entry >= 0 && entry == editing_) {
        caret_ = CaretAt(entries_[size_t(entry)], event->position().toPoint().x());
        update();
        return;
    }
    EndEdit();
    // Ending an edit may have removed an entry: find it again.
    selected_ = RowAt(event->position().toPoint());
    if (selected_ >= 0) SetCurrentRow(selected_);
    update();
    emit Changed();
}

void CClientListBox::KeyboardMoved(int row) {
    EndEdit();
    selected_ = row < EntryCount() ? row : -1;
    update();
    emit Changed();
}

void CClientListBox::keyPressEvent(QKeyEvent* event) {
    if (editing_ < 0) {
        CPaintedList::keyPressEvent(event);
        return;
    }
    QString& name = entries_[size_t(editing_)].name;
    const int repeat = std::max(1, event->count());
    switch (event->key()) {
        case Qt::Key_Home:
            caret_ = 0;
            break;
        case Qt::Key_End:
            caret_ = int(name.size());
            break;
        case Qt::Key_Left:
            caret_ = std::max(0, caret_ - repeat);
            break;
        case Qt::Key_Right:
            caret_ = std::min(int(name.size()), caret_ + repeat);
            break;
        case Qt::Key_Backspace: {
            const int count = std::min(caret_, repeat);
            name.remove(caret_ - count, count);
            caret_ -= count;
            break;
        }
        case Qt::Key_Return:
        case Qt::Key_Enter:
            EndEdit();
            return;
        default:
            InsertText(event->text());
            return;
    }
    update();
}

void CClientListBox::inputMethodEvent(QInputMethodEvent* event) {
    if (editing_ >= 0) InsertText(event->commitString());
    event->accept();
}

// Characters below 32 are not part of a name; a name stops at the length a
// manager sends and at the entry's right edge.
void CClientListBox::InsertText(const QString& text) {
    if (editing_ < 0) return;
    QString& name = entries_[size_t(editing_)].name;
    const QFontMetrics metrics(name_font_);
    const int limit = ListWidth() - kRightMargin;
    bool inserted = false;
    for (QChar c : text) {
        if (c.unicode() < 32) continue;
        if (name.size() >= kMaxClientNameLength) {
            Refuse(ClientNameVerdict::kNameTooLong, name);
            break;
        }
        QString longer = name;
        longer.insert(caret_, c);
        if (TextLeft() + metrics.horizontalAdvance(longer) >= limit) break;
        name = longer;
        ++caret_;
        inserted = true;
    }
    if (inserted && name.size() < kMaxClientNameLength) notice_.clear();
    update();
}

void CClientListBox::focusOutEvent(QFocusEvent* event) {
    // A box or menu of our own taking the focus for a moment ends nothing.
    if (event->reason() != Qt::PopupFocusReason) EndEdit();
    QWidget::focusOutEvent(event);
}

void CClientListBox::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    EntriesChanged();
}

// ---- painting --------------------------------------------------------------------

void CClientListBox::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    if (entries_.empty()) {
        PaintEmptyList(p);
    } else {
        PaintRows(p, event->region());
    }
    const QRect caret = CaretRect();
    if (hasFocus() && !caret.isEmpty()) p.fillRect(caret, name_colour_);
    if (!notice_.isEmpty()) PaintNotice(p);
}

void CClientListBox::PaintRow(QPainter& p, int index, const QRect& r) {
    const Entry& entry = entries_[size_t(index)];
    p.fillRect(r, index == selected_ ? selected_background_ : QColor(Qt::white));
    p.setPen(index == editing_ ? solid_pen_ : dotted_pen_);
    p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
    const int name_height = QFontMetrics(name_font_).height();
    p.setFont(name_font_);
    p.setPen(name_colour_);
    const QRect name_rect(r.left() + TextLeft(), r.top() + kPadding,
                          r.width() - TextLeft() - kRightMargin, name_height);
    p.drawText(name_rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, entry.name);
    if (entry.status.isEmpty()) return;
    const QFontMetrics metrics(status_font_);
    const QRect status_rect(name_rect.left() + 8, r.bottom() - kPadding - metrics.height(),
                            name_rect.width() - 8, metrics.height());
    p.setFont(status_font_);
    p.drawText(status_rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
               metrics.elidedText(entry.status, Qt::ElideRight, status_rect.width()));
}

void CClientListBox::PaintEmptyList(QPainter& p) const {
    const int icon_width = empty_list_icon_.isNull() ? 32 : empty_list_icon_.width();
    if (!empty_list_icon_.isNull()) p.drawImage(QPoint(20, 20), empty_list_icon_);
    const int left = 20 + icon_width + 14;
    p.setFont(status_font_);
    p.setPen(QColor(192, 192, 192));
    p.drawText(QRect(left, 20, ListWidth() - left - kRightMargin, height() - 20),
               Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, LoadQString(kEmptyListText));
}

// A refused name is explained at the foot of the list until the next edit.
void CClientListBox::PaintNotice(QPainter& p) const {
    const int inner_width = ListWidth() - 2 * kRightMargin;
    const QFontMetrics metrics(notice_font_);
    const QRect text =
        metrics.boundingRect(QRect(0, 0, inner_width, height()), Qt::TextWordWrap, notice_);
    const QRect band(0, height() - text.height() - 8, ListWidth(), text.height() + 8);
    p.fillRect(band, selected_background_);
    p.setPen(solid_pen_);
    p.drawLine(band.topLeft(), band.topRight());
    p.setFont(notice_font_);
    p.setPen(notice_colour_);
    p.drawText(band.adjusted(kRightMargin, 4, -kRightMargin, -4), Qt::TextWordWrap, notice_);
}

}  // namespace halvorin
