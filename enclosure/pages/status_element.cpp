#include "enclosure/pages/status_element.h"

#include <mutex>

#include "enclosure/model/element_condition.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/sub_enc.h"

namespace halvorin {

namespace {

// Array device slots; device slots use the same table unchanged.
constexpr StatusBitRow kSlotRows[] = {
    {9, true, kStateRebuildRemap},
    {10, true, kStateInFailedArray},
    {11, true, kStateInCriticalArray},
    {12, true, kStateConsistencyCheck},
    {13, true, kStateHotSpare},
    {17, false, kStateIdentifyOn},
    {19, false, kStateReadyToInsert},
    {22, false, kStateDoNotRemove},
    {28, true, kStateDeviceOff},
    {29, true, kStateFailed},  // FAULT REQSTD
    {30, true, kStateFailed},  // FAULT SENSED
    {15, false, kStateOk},
};

constexpr StatusBitRow kPowerSupplyRows[] = {
    {15, false, kStateIdentifyOn},
    {19, true, kStateOverVoltage},
    {18, true, kStateUnderVoltage},
    {17, true, kStateOverCurrent},
    {30, true, kStateFailed},
    {27, true, kStateOverTemperatureFailure},
    {26, true, kStateTemperatureWarning},
    {25, true, kStateAcFailure},
    {24, true, kStateDcFailure},
};

constexpr StatusBitRow kCoolingRows[] = {{30, true, kStateFailed}, {15, false, kStateIdentifyOn}};

constexpr StatusBitRow kTemperatureRows[] = {
    {14, true, kStateFailed},
    {24, true, kStateBelowLowWarning},          // UT WARNING
    {25, true, kStateTemperatureUnderFailure},  // UT FAILURE
    {26, true, kStateAboveHighWarning},         // OT WARNING
    {27, true, kStateTemperatureOverFailure},   // OT FAILURE
};

constexpr StatusBitRow kVoltageRows[] = {
    {14, true, kStateFailed},           {8, true, kStateBelowLowCritical},
    {9, true, kStateAboveHighCritical}, {10, true, kStateBelowLowWarning},
    {11, true, kStateAboveHighWarning},
};

constexpr StatusBitRow kCurrentRows[] = {{14, true, kStateFailed},
                                         {9, true, kStateAboveHighCritical},
                                         {11, true, kStateAboveHighWarning}};

constexpr StatusBitRow kSasExpanderRows[] = {{14, true, kStateFailed}};
// Byte 2 of a SAS connector is its physical link (0xFF: all phys); FAIL is byte 3 bit 6.
constexpr StatusBitRow kSasConnectorRows[] = {{30, true, kStateFailed}};

struct Hook {
    std::mutex mutex;
    StatusEventFn fn = nullptr;
    void* context = nullptr;
};

Hook& TheHook() {
    static Hook hook;
    return hook;
}

void CallHook(CSesElem* element, uint32_t bit) {
    StatusEventFn fn;
    void* context;
    {
        std::lock_guard lock(TheHook().mutex);
        fn = TheHook().fn;
        context = TheHook().context;
    }
    if (fn) fn(element, bit, context);
}

bool BitSet(const std::array<uint8_t, 4>& status, uint8_t position) {
    return status[position / 8] & (1u << (position % 8));
}

void AddSample(CSesElem* element, int16_t reading) {
    if (element->history) element->history->Add(reading);
    ++element->update_count;
}

}  // namespace

std::span<const StatusBitRow> StatusBitMap(uint8_t type) {
    switch (type) {
        case kTypeDeviceSlot:
        case kTypeArrayDeviceSlot:
            return kSlotRows;
        case kTypePowerSupply:
            return kPowerSupplyRows;
        case kTypeCooling:
            return kCoolingRows;
        case kTypeTemperature:
            return kTemperatureRows;
        case kTypeVoltage:
            return kVoltageRows;
        case kTypeCurrent:
            return kCurrentRows;
        case kTypeSasExpander:
            return kSasExpanderRows;
        case kTypeSasConnector:
            return kSasConnectorRows;
        default:
            return {};
    }
}

int16_t ReadingFromStatus(uint8_t type, const std::array<uint8_t, 4>& s) {
    switch (type) {
        case kTypeCooling:
            return static_cast<int16_t>(((s[1] & 0x07) << 8 | s[2]) * 10);
        case kTypeTemperature:
            return static_cast<int16_t>(s[2] - 20);
        case kTypeVoltage:
        case kTypeCurrent:
            return static_cast<int16_t>(s[2] << 8 | s[3]);
        default:
            return 0;
    }
}

void SetStatusEventHook(StatusEventFn fn, void* context) {
    std::lock_guard lock(TheHook().mutex);
    TheHook().fn = fn;
    TheHook().context = fn ? context : nullptr;
}

void ApplyStatusElement(CSesElem* element, const std::array<uint8_t, 4>& status, StatusUse use) {
    const uint32_t old_state = element->state;
    const bool was_fault = IsFault(*element);
    element->raw_status = status;
    uint32_t state = 0;
    for (const StatusBitRow& row : StatusBitMap(element->type)) {
        if (!BitSet(status, row.position)) continue;
        // Each row is compared with the old state, not the one being built.
        if (row.raise && !(old_state & row.state_bit)) CallHook(element, row.state_bit);
        state |= row.state_bit;
    }
    element->state = state;
    const bool fault = IsFault(*element);
    if (fault != was_fault && element->type < kCountedTypes) {
        CSubEnc* subenc = element->subenc;
        std::lock_guard lock(subenc->mutex);
        auto& failed = subenc->counters[element->type].failed;
        if (fault)
            ++failed;
        else if (failed > 0)
            --failed;
    }
    if (use == StatusUse::kStateOnly) return;
    const int16_t reading = ReadingFromStatus(element->type, status);
    AddSample(element, reading);
    if (element->nominal == 0 && HasHistory(element->type)) element->nominal = reading;
}

void RecordMissingSample(CSesElem* element) {
    AddSample(element, 0);
}

}  // namespace halvorin
