// How one 4-byte SES status element changes an element: the state bits it
// sets (per type, in a fixed row order), the reading it carries, and the
// process-wide hook that hears of every state bit that becomes set.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace halvorin {

class CSesElem;

struct StatusBitRow {
    uint8_t position;  // byte = position / 8, bit = position % 8 (0 the least significant)
    bool raise;        // report it to the hook when it becomes set
    uint32_t state_bit;
};

// The rows of an element type, in order; empty for a type without a table.
std::span<const StatusBitRow> StatusBitMap(uint8_t type);

// The reading a status element carries: rpm, degrees Celsius, 10 mV, 10 mA; 0 otherwise.
int16_t ReadingFromStatus(uint8_t type, const std::array<uint8_t, 4>& status);

// The hook: the element (a reference is held while it runs; no model lock
// is) and the state bit that became set.
using StatusEventFn = void (*)(CSesElem* element, uint32_t state_bit, void* context);
void SetStatusEventHook(StatusEventFn fn, void* context);

enum class StatusUse {
    kStateAndReading,  // a regular sample: state, history, update count
    kStateOnly,        // a re-read within the minute: state bits only
};

// Applies one status element. State bits become set or clear as the element
// says; a raise row whose bit was clear before calls the hook first. The
// failed count of the element's type follows bit 0x40.
void ApplyStatusElement(CSesElem* element, const std::array<uint8_t, 4>& status, StatusUse use);

// A status read that failed: the history gets a 0 and the update is counted.
void RecordMissingSample(CSesElem* element);

}  // namespace halvorin
