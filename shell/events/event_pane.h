// CEventPane: the lower part of the main window's left column, the title
// bar "Device Event" over the event list. Events reach the list by three
// roads: status changes through the poll engine's status event hook, which
// the pane installs while it exists; operator actions through
// AddOperatorEvent; and event records posted from any thread (PostEventRecord),
// which go in at the top. Every event the list takes is written to the
// history on disk, and the history of earlier runs comes back at the top
// of the list when the pane is created.
#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/clock.h"
#include "enclosure/poll/standing_events.h"
#include "shell/events/event_log.h"

namespace halvorin {

class CEventItem;
class CEventList;
class CEventToolBar;
class CSesElem;
class CSubEnc;

class CEventPane : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kRecordMessage = 19999;  // "%s"

    // `history_directory` empty: no history is read or written.
    explicit CEventPane(std::string history_directory = EventStateDirectory(),
                        Clock& clock = SystemClock(), QWidget* parent = nullptr);
    ~CEventPane() override;

    // From any thread: the record goes in at the top of the list, where the
    // pane finds it on its own thread. A record whose texts lie outside its
    // block is dropped. `pane` must outlive the call.
    static void PostEventRecord(CEventPane* pane, std::vector<uint8_t> block);

    // Commands of the pane's toolbar (251, 247); false for any other.
    bool OnCommand(int id);
    void AddOperatorEvent(int level, CSubEnc* subenc, int message_id, const QStringList& arguments);

    CEventList* List() const { return list_; }
    CEventToolBar* ToolBar() const { return tool_bar_; }
    // Records dropped because they were damaged.
    int DroppedRecords() const { return dropped_records_; }
    // Whether the history on disk can be written.
    bool HistoryWritable() const { return history_ && !history_->failed(); }

    // Keeps what stands now beside the history (only when it changed), so the
    // next start can leave those events out.
    void SaveStandingEvents(const StandingEvents& now);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    static void StatusEventEntry(CSesElem* element, uint32_t state_bit, void* context);
    void ReadBackHistory(const std::string& directory);
    void AddRecord(std::span<const uint8_t> block, bool replayed);
    void WriteToHistory(const CEventItem& item);
    // A row the operator deleted stays deleted after a restart.
    void WriteDeletionToHistory(const CEventItem& item);
    void ReportHistoryFailure();
    void ReportHistoryResumed();

    Clock& clock_;
    CEventToolBar* tool_bar_ = nullptr;  // children: Qt owns them
    CEventList* list_ = nullptr;
    QColor background_;
    std::unique_ptr<EventLogWriter> history_;
    bool history_failure_reported_ = false;
    int unwritten_events_ = 0;  // since the history last could be written
    bool replaying_ = false;
    std::string history_directory_;
    // Standing when the program last looked: each is left out once, at the
    // first read after the start.
    std::set<StandingEvent> standing_at_start_;
    std::set<StandingEvent> last_saved_;
    int dropped_records_ = 0;
};

}  // namespace halvorin
