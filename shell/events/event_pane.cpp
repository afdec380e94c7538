#include "shell/events/event_pane.h"

#include <QCoreApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <cstdio>
#include <utility>

#include "enclosure/model/display_name.h"
#include "enclosure/pages/status_element.h"
#include "enclosure/poll/status_event.h"
#include "shell/events/event_list.h"
#include "shell/events/event_record.h"
#include "shell/events/event_tool_bar.h"
#include "shell/events/standing_events_file.h"
#include "shell/theme/theme_color.h"
#include "shell/widgets/post_to_ui.h"

namespace halvorin {

namespace {

constexpr int kHistoryNotWritten = 296;
constexpr int kHistoryWrittenAgain = 297;

// The pane whose list the status event hook feeds.
CEventPane* hooked_pane = nullptr;

}  // namespace

CEventPane::CEventPane(std::string history_directory, Clock& clock, QWidget* parent)
    : QWidget(parent), clock_(clock) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    background_ = ToQColor(LoadThemeColor(602, Rgb(62, 59, 67)));
    tool_bar_ = new CEventToolBar(this);
    list_ = new CEventList(clock, this);
    list_->setAccessibleName(tool_bar_->Caption());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(tool_bar_);
    layout->addWidget(list_, 1);
    connect(tool_bar_, &CPaneToolBar::Command, this, &CEventPane::OnCommand);
    connect(list_, &CEventList::EventAdded, this, &CEventPane::WriteToHistory);
    connect(list_, &CEventList::EventDeleted, this, &CEventPane::WriteDeletionToHistory);

    SetStatusEventHook(&CEventPane::StatusEventEntry, this);
    hooked_pane = this;
    if (!history_directory.empty()) {
        history_directory_ = history_directory;
        standing_at_start_ = ReadStandingEvents(history_directory);
        last_saved_ = standing_at_start_;
        ReadBackHistory(history_directory);
        history_ = std::make_unique<EventLogWriter>(history_directory);
        if (history_->failed()) ReportHistoryFailure();
    }
}

CEventPane::~CEventPane() {
    if (hooked_pane == this) {
        SetStatusEventHook(nullptr, nullptr);
        hooked_pane = nullptr;
    }
}

void CEventPane::PostEventRecord(CEventPane* pane, std::vector<uint8_t> block) {
    PostToUi(pane, [pane, block = std::move(block)] { pane->AddRecord(block, false); });
}

bool CEventPane::OnCommand(int id) {
    return list_->OnCommand(id);
}

void CEventPane::StatusEventEntry(CSesElem* element, uint32_t state_bit, void* context) {
    auto* pane = static_cast<CEventPane*>(context);
    const std::optional<StatusEvent> event = DescribeStatusEvent(element, state_bit);
    if (!event) return;
    // It stood when the program last looked, and is in the history already.
    if (pane->standing_at_start_.erase({event->source, event->text}) > 0) return;
    pane->list_->AddEvent(pane->clock_.NowSeconds(), event->level,
                          QString::fromStdU16String(event->source), kRecordMessage,
                          {QString::fromStdU16String(event->text)}, CEventList::Position::kBottom);
}

void CEventPane::SaveStandingEvents(const StandingEvents& now) {
    if (history_directory_.empty() || now.events == last_saved_) return;
    std::string error;
    if (WriteStandingEvents(history_directory_, now, error))
        last_saved_ = now.events;
    else
        std::fprintf(stderr, "standing events: %s\n", error.c_str());
}

void CEventPane::AddOperatorEvent(int level, CSubEnc* subenc, int message_id,
                                  const QStringList& arguments) {
    const QString source = subenc ? QString::fromStdU16String(EnclosureDisplayName(subenc)) : "";
    list_->AddEvent(clock_.NowSeconds(), level, source, message_id, arguments,
                    CEventList::Position::kBottom);
}

// `replayed`: from the history on disk, so not written to it again.
void CEventPane::AddRecord(std::span<const uint8_t> block, bool replayed) {
    const std::optional<EventEntry> entry = ParseEventRecord(block);
    if (!entry) {
        ++dropped_records_;
        return;
    }
    replaying_ = replayed;
    list_->AddEvent(entry->time, entry->level, QString::fromStdU16String(entry->source),
                    kRecordMessage, {QString::fromStdU16String(entry->message)},
                    CEventList::Position::kTop);
    replaying_ = false;
}

void CEventPane::ReadBackHistory(const std::string& directory) {
    const std::vector<EventEntry> history =
        ReadEventHistory(directory, size_t(CEventList::kMaxRows - 1));
    // Each record goes in at the top: newest first leaves the oldest on top.
    for (auto it = history.rbegin(); it != history.rend(); ++it)
        PostToUi(this, [this, block = MakeEventRecord(*it)] { AddRecord(block, true); });
    // Once they are in, the newest of them are what the operator sees first
    // (posted work runs in order).
    if (!history.empty()) PostToUi(this, [this] { list_->ScrollToEnd(); });
}

void CEventPane::WriteDeletionToHistory(const CEventItem& item) {
    CEventItem deletion = item;
    deletion.level = kDeletedEvent;
    WriteToHistory(deletion);
}

void CEventPane::WriteToHistory(const CEventItem& item) {
    if (replaying_ || !history_) return;
    const EventEntry entry{item.time, item.level, item.source.toStdU16String(),
                           item.text.toStdU16String()};
    if (!history_->Append(entry)) {
        ++unwritten_events_;
        ReportHistoryFailure();
    } else if (history_failure_reported_) {
        ReportHistoryResumed();
    }
}

// Once per outage, in the list itself (the notice is not written either: it
// counts among the events that were not kept). Both notices go in after the
// event being added, not from inside its addition.
void CEventPane::ReportHistoryFailure() {
    if (history_failure_reported_) return;
    history_failure_reported_ = true;
    std::fprintf(stderr, "event history: %s; events are shown but not kept\n",
                 history_->error().c_str());
    const QString error = QString::fromStdString(history_->error());
    PostToUi(this, [this, error] {
        AddOperatorEvent(kEventWarning, nullptr, kHistoryNotWritten, {error});
    });
}

void CEventPane::ReportHistoryResumed() {
    history_failure_reported_ = false;
    const int lost = std::exchange(unwritten_events_, 0);
    PostToUi(this, [this, lost] {
        AddOperatorEvent(kEventInformation, nullptr, kHistoryWrittenAgain, {QString::number(lost)});
    });
}

void CEventPane::paintEvent(QPaintEvent* event) {
    QPainter(this).fillRect(event->rect(), background_);
}

}  // namespace halvorin
