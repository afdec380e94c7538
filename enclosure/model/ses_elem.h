// CSesElem: one element of a sub-enclosure (a slot, fan, power supply,
// sensor, port entry ...). Its data fields belong to the thread that runs the
// poll step (the UI thread): handlers write them there and views read them
// there. Its name is also read by other threads, under the sub-enclosure mutex.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "enclosure/model/history_ring.h"
#include "enclosure/model/ses_obj.h"

namespace halvorin {

class CSubEnc;

// Pending identify requests set by the views, consumed by the control page.
enum PendingRequest : uint8_t { kRequestIdentifyOn = 0x01, kRequestIdentifyOff = 0x02 };

inline constexpr uint16_t kDataValid = 0x01;

inline uint32_t ElementKey(uint8_t type_desc_index, uint8_t element_index) {
    return static_cast<uint32_t>(type_desc_index) << 16 | element_index;
}

class CSesElem final : public CSesObj {
  public:
    CSesElem(CSubEnc* subenc, uint8_t type_desc_index, uint8_t element_index, uint8_t type);

    CSubEnc* const subenc;  // owner, not counted
    const uint8_t type_desc_index;
    const uint8_t element_index;  // within its type descriptor, from 0
    const uint8_t type;
    uint8_t pending_request = 0;
    uint32_t state = 0;  // StateBits
    int16_t nominal = 0;
    uint16_t data_valid = 0;
    // High critical, high warning, low warning, low critical, in the reading's unit.
    std::array<int16_t, 4> thresholds{};
    uint8_t thresholds_set = 0;  // bit i: thresholds[i] is given (so 0 °C is a threshold)
    std::unique_ptr<HistoryRing> history;  // cooling, temperature, voltage, current only
    int32_t update_count = 0;
    void* view_data = nullptr;  // the view's row for this element; never read by the model
    std::u16string name;        // guarded by the sub-enclosure mutex
    std::string descriptor;     // the element descriptor page's text ("Slot 00"); same mutex
    std::array<uint8_t, 4> raw_status{};
    // Slots: slot number, disk vendor (8 + 0), product (16 + 0), serial (20 + 0).
    // Expanders and ports: count or link rate, then an 8-byte SAS address.
    // Zone entries: 10 bytes of zone data.
    std::array<uint8_t, 48> type_data{};
    // Slots: the SAS address of the disk's first phy; zero without a disk.
    std::array<uint8_t, 8> disk_sas_address{};

    uint32_t key() const { return ElementKey(type_desc_index, element_index); }
    // False once a sweep took it out of its sub-enclosure's map; read it
    // under the sub-enclosure mutex, or on the thread that runs the poll step.
    bool InMap() const { return in_map_; }

  private:
    friend class ModelCounts;
    bool in_map_ = true;  // guarded by the sub-enclosure mutex
};

inline bool HasThreshold(const CSesElem& element, size_t i) {
    return element.thresholds_set & (1u << i);
}

// Offsets into CSesElem::type_data.
inline constexpr size_t kSlotNumber = 0;
inline constexpr size_t kDiskVendor = 1;    // 8 characters + zero
inline constexpr size_t kDiskProduct = 10;  // 16 characters + zero
inline constexpr size_t kDiskSerial = 27;   // 20 characters + zero

// The newest min(out.size(), fill) readings, oldest first, into out[0..k-1];
// returns k and, through update_count, the element's update count. 0 without
// a history.
size_t ReadHistory(const CSesElem& element, std::span<int16_t> out, int32_t* update_count);

}  // namespace halvorin
