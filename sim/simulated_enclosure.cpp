#include "sim/simulated_enclosure.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "base/byte_order.h"
#include "sim/ses_pages.h"
#include "sim/vendor_buffer.h"

namespace halvorin::sim {

namespace {

constexpr uint8_t kEnclosureControlPage = 0x02;
constexpr uint8_t kDownloadMicrocodePage = 0x0E;
constexpr size_t kDownloadHeader = 24;

bool IsSlot(uint8_t type) {
    return type == kDeviceSlot || type == kArrayDeviceSlot;
}

// The next release: the third character of the revision level (the last one
// the firmware revision "%c.%c.%c" shows) goes up, "2071" becomes "2081".
std::string NextRevision(std::string revision) {
    revision.resize(std::max<size_t>(revision.size(), 4), '0');
    for (size_t i = 3; i-- > 0;) {
        if (!std::isdigit(static_cast<unsigned char>(revision[i]))) revision[i] = '0';
        if (revision[i] != '9') {
            ++revision[i];
            return revision;
        }
        revision[i] = '0';
    }
    return revision;
}

}  // namespace

SimulatedEnclosure::SimulatedEnclosure(Scenario scenario, Clock& clock)
    : scenario_(std::move(scenario)),
      clock_(clock),
      start_ms_(clock.TickMs()),
      state_(InitialState(scenario_)),
      fault_uses_(scenario_.faults.size(), 0) {
    for (const SubEnclosureSpec& sub : scenario_.subenclosures) {
        downloads_.emplace(sub.id,
                           MicrocodeDownload(sub.id == 0 ? scenario_.download : DownloadStart{}));
    }
}

int64_t SimulatedEnclosure::ElapsedSeconds() const {
    return (clock_.TickMs() - start_ms_) / 1000;
}

void SimulatedEnclosure::AdvanceLocked() {
    state_.elapsed_seconds = ElapsedSeconds();
    while (next_event_ < scenario_.events.size() &&
           scenario_.events[next_event_].at_seconds <= state_.elapsed_seconds) {
        ApplyEventLocked(scenario_.events[next_event_++]);
    }
}

void SimulatedEnclosure::ApplyEventLocked(const EventSpec& event) {
    switch (event.action) {
        case EventAction::kGenerationBump:
            ++state_.generation;
            return;
        case EventAction::kBuzzer:
            state_.buzzer = event.value.value_or(1) != 0;
            return;
        case EventAction::kHideType:
        case EventAction::kShowType:
            for (TypeState& t : state_.types) {
                if (t.type == event.type && t.subenclosure == event.subenclosure) {
                    t.hidden = event.action == EventAction::kHideType;
                }
            }
            ++state_.generation;
            return;
        default:
            break;
    }
    TypeState* type = state_.FindType(event.type, event.subenclosure);
    if (!type || event.element >= type->elements.size()) return;
    ElementState& e = type->elements[event.element];
    switch (event.action) {
        case EventAction::kPowerSupplyFail:
            e.failed = e.ac_fail = true;
            break;
        case EventAction::kPowerSupplyRecover:
            e.failed = e.ac_fail = e.dc_fail = false;
            break;
        case EventAction::kFanStop:
            e.stopped = true;
            break;
        case EventAction::kFanStart:
            e.stopped = e.failed = false;
            break;
        case EventAction::kConnectorFail:
            e.failed = true;
            break;
        case EventAction::kConnectorRecover:
            e.failed = false;
            break;
        case EventAction::kTemperature:
        case EventAction::kVoltage:
        case EventAction::kFanSpeed:
            e.forced = event.value;
            break;
        case EventAction::kDiskPull:
            e.disk.reset();
            break;
        case EventAction::kDiskInsert:
            e.disk = event.disk ? event.disk : e.described.disk;
            break;
        default:
            break;
    }
}

bool SimulatedEnclosure::Visible() {
    std::lock_guard lock(mutex_);
    return !shut_down_ && clock_.TickMs() >= hidden_until_ms_;
}

void SimulatedEnclosure::PowerOn() {
    std::lock_guard lock(mutex_);
    shut_down_ = false;
    hidden_until_ms_ = 0;
}

SimulatedEnclosure::Identity SimulatedEnclosure::InquiryIdentity() {
    std::lock_guard lock(mutex_);
    const SubEnclosureSpec& primary = state_.subenclosures.front();
    return {primary.vendor, primary.product, primary.revision};
}

std::optional<std::vector<uint8_t>> SimulatedEnclosure::ReadDiagnosticPage(uint8_t page) {
    std::lock_guard lock(mutex_);
    AdvanceLocked();
    ++page_reads_[page];
    if (scenario_.recorded) {
        const auto& pages = scenario_.recorded->pages;
        if (page == 0x00) return SupportedDiagnosticPages();
        const auto found = pages.find(page);
        if (found == pages.end()) return std::nullopt;
        return found->second;
    }
    switch (page) {
        case 0x00:
            return SupportedDiagnosticPages();
        case 0x01:
            return ConfigurationPage(state_);
        case 0x02:
            return EnclosureStatusPage(state_);
        case 0x05:
            return ThresholdInPage(state_);
        case 0x07:
            return ElementDescriptorPage(state_);
        case 0x0A:
            return AdditionalElementStatusPage(state_);
        case kDownloadMicrocodePage:
            return DownloadStatusPageLocked();
        default:
            return std::nullopt;
    }
}

bool SimulatedEnclosure::WriteDiagnosticPage(std::span<const uint8_t> page) {
    std::lock_guard lock(mutex_);
    AdvanceLocked();
    if (!page.empty()) ++page_writes_[page[0]];
    if (scenario_.recorded) return true;  // acknowledged; the recording stays as it was
    if (page.size() < 8 || be16(&page[2]) + 4u != page.size()) return false;
    if (be32(&page[4]) != state_.generation) return false;  // expected generation code
    switch (page[0]) {
        case kEnclosureControlPage:
            return WriteControlPageLocked(page);
        case kDownloadMicrocodePage:
            return WriteDownloadPageLocked(page);
        default:
            return false;
    }
}

bool SimulatedEnclosure::WriteControlPageLocked(std::span<const uint8_t> page) {
    // A real enclosure refuses a page that does not cover its configuration exactly.
    if (page.size() != ControlPageLength(state_)) return false;
    size_t at = 8;
    for (size_t ti : ConfigurationOrder(state_)) {
        TypeState& type = state_.types[ti];
        at += 4;  // overall control element
        for (ElementState& e : type.elements) {
            const uint8_t* control = &page[at];
            at += 4;
            if (!(control[0] & 0x80)) continue;  // SELECT
            if (IsSlot(type.type)) {
                e.ident = control[2] & 0x02;            // RQST IDENT
                e.fault_requested = control[3] & 0x20;  // RQST FAULT
            } else {
                e.ident = control[1] & 0x80;
            }
        }
    }
    return true;
}

bool SimulatedEnclosure::WriteDownloadPageLocked(std::span<const uint8_t> page) {
    if (page.size() < kDownloadHeader || page.size() % 4 != 0) return false;
    auto download = downloads_.find(page[1]);
    if (download == downloads_.end()) return false;
    const uint32_t data_length = be32(&page[20]);
    if (data_length > page.size() - kDownloadHeader) return false;
    const auto outcome = download->second.Piece(page[8], page[11], be32(&page[12]), be32(&page[16]),
                                                page.subspan(kDownloadHeader, data_length));
    if (outcome == MicrocodeDownload::Outcome::kUpgradeComplete) CompleteUpgradeLocked();
    return true;  // errors in the data show in the status page, as SES has it
}

void SimulatedEnclosure::CompleteUpgradeLocked() {
    for (SubEnclosureSpec& sub : state_.subenclosures) {
        sub.revision = scenario_.upgrade_revision.empty() ? NextRevision(sub.revision)
                                                          : scenario_.upgrade_revision;
    }
    ++state_.generation;  // the configuration page now says another revision
}

std::vector<uint8_t> SimulatedEnclosure::DownloadStatusPageLocked() {
    std::vector<uint8_t> page(8 + 16 * state_.subenclosures.size(), 0);
    page[0] = kDownloadMicrocodePage;
    page[1] = static_cast<uint8_t>(state_.subenclosures.size() - 1);
    put_be16(&page[2], static_cast<uint32_t>(page.size() - 4));
    put_be32(&page[4], state_.generation);
    for (size_t i = 0; i < state_.subenclosures.size(); ++i) {
        const uint8_t id = state_.subenclosures[i].id;
        const MicrocodeDownload::Status s = downloads_.at(id).ReadStatus();
        uint8_t* d = &page[8 + 16 * i];
        d[1] = id;
        d[2] = s.status;
        d[3] = s.additional;
        put_be32(&d[4], s.maximum_size);
        d[11] = s.expected_buffer_id;
        put_be32(&d[12], s.expected_offset);
    }
    return page;
}

std::optional<std::vector<uint8_t>> SimulatedEnclosure::ReadVendorBuffer(uint32_t offset) {
    std::lock_guard lock(mutex_);
    AdvanceLocked();
    if (scenario_.recorded) {
        const auto& regions = scenario_.recorded->vendor_regions;
        const auto found = regions.find(offset);
        if (found == regions.end()) return std::nullopt;
        return found->second;
    }
    return ReadVendorRegion(state_, offset);
}

bool SimulatedEnclosure::WriteVendorBuffer(uint32_t offset, std::span<const uint8_t> data) {
    std::lock_guard lock(mutex_);
    AdvanceLocked();
    if (scenario_.recorded) return true;  // acknowledged; the recording stays as it was
    switch (WriteVendorRegion(state_, offset, data)) {
        case VendorWriteResult::kApplied:
            return true;
        case VendorWriteResult::kRejected:
            return false;
        case VendorWriteResult::kRestart:
            hidden_until_ms_ = clock_.TickMs() + scenario_.restart_seconds * 1000;
            return true;
        case VendorWriteResult::kShutdown:
            shut_down_ = true;
            return true;
    }
    return false;
}

std::optional<FaultDescription> SimulatedEnclosure::TakeFault(size_t device_index, uint8_t opcode,
                                                              std::optional<uint8_t> page) {
    std::lock_guard lock(mutex_);
    const int64_t elapsed = ElapsedSeconds();
    for (size_t i = 0; i < scenario_.faults.size(); ++i) {
        const FaultDescription& f = scenario_.faults[i];
        if (f.opcode && *f.opcode != opcode) continue;
        if (f.page && f.page != page) continue;
        if (f.device && *f.device != device_index) continue;
        if (elapsed < f.from_seconds) continue;
        if (f.times >= 0 && fault_uses_[i] >= f.times) continue;
        ++fault_uses_[i];
        return f;
    }
    return std::nullopt;
}

EnclosureState SimulatedEnclosure::Snapshot() {
    std::lock_guard lock(mutex_);
    AdvanceLocked();
    return state_;
}

int SimulatedEnclosure::PageReads(uint8_t page) {
    std::lock_guard lock(mutex_);
    return page_reads_[page];
}

int SimulatedEnclosure::PageWrites(uint8_t page) {
    std::lock_guard lock(mutex_);
    return page_writes_[page];
}

std::vector<uint8_t> SimulatedEnclosure::DownloadedImage(uint8_t subenclosure, uint8_t buffer_id) {
    std::lock_guard lock(mutex_);
    auto it = downloads_.find(subenclosure);
    return it == downloads_.end() ? std::vector<uint8_t>{} : it->second.Image(buffer_id);
}

}  // namespace halvorin::sim
