// One simulated JBOD: its state, what happens to it over time and the
// commands its SES devices execute. Several SES devices (two expanders) may
// reach the same enclosure; they share this object.
//
// Thread safety: every public operation may be called from any thread.
// Scheduled events are applied lazily, when a command arrives, from the
// injected clock, so a test can run an hour of scenario in milliseconds.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "base/clock.h"
#include "sim/enclosure_state.h"
#include "sim/microcode_download.h"

namespace halvorin::sim {

class SimulatedEnclosure {
  public:
    SimulatedEnclosure(Scenario scenario, Clock& clock);

    const Scenario& scenario() const { return scenario_; }

    // Whether the enclosure answers at all (not restarting, not shut down).
    bool Visible();
    // A shut-down enclosure comes back only when it is powered on again.
    void PowerOn();

    // Standard INQUIRY fields of the primary sub-enclosure.
    struct Identity {
        std::string vendor, product, revision;
    };
    Identity InquiryIdentity();

    // RECEIVE DIAGNOSTIC RESULTS; nothing for a page the device does not have.
    std::optional<std::vector<uint8_t>> ReadDiagnosticPage(uint8_t page);
    // SEND DIAGNOSTIC; false when the page is refused.
    bool WriteDiagnosticPage(std::span<const uint8_t> page);
    // READ BUFFER / WRITE BUFFER of the vendor buffer.
    std::optional<std::vector<uint8_t>> ReadVendorBuffer(uint32_t offset);
    bool WriteVendorBuffer(uint32_t offset, std::span<const uint8_t> data);

    // The first fault that applies to a command now, counted as used.
    std::optional<FaultDescription> TakeFault(size_t device_index, uint8_t opcode,
                                              std::optional<uint8_t> page);

    // For tests and the demo.
    EnclosureState Snapshot();
    std::vector<uint8_t> DownloadedImage(uint8_t subenclosure, uint8_t buffer_id);
    // How often a diagnostic page was read, and written.
    int PageReads(uint8_t page);
    int PageWrites(uint8_t page);
    int64_t ElapsedSeconds() const;

  private:
    void AdvanceLocked();
    void ApplyEventLocked(const EventSpec& event);
    bool WriteControlPageLocked(std::span<const uint8_t> page);
    bool WriteDownloadPageLocked(std::span<const uint8_t> page);
    std::vector<uint8_t> DownloadStatusPageLocked();
    void CompleteUpgradeLocked();

    const Scenario scenario_;
    Clock& clock_;
    const int64_t start_ms_;

    std::mutex mutex_;
    EnclosureState state_;
    size_t next_event_ = 0;
    std::map<uint8_t, MicrocodeDownload> downloads_;  // by sub-enclosure identifier
    std::vector<int> fault_uses_;
    std::map<uint8_t, int> page_reads_;
    std::map<uint8_t, int> page_writes_;
    int64_t hidden_until_ms_ = 0;
    bool shut_down_ = false;
};

}  // namespace halvorin::sim
