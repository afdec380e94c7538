// The operator's changes to an enclosure: identify LEDs of slots, the system
// identification LED, buzzer mute, system name, restart, shutdown and SAS
// zoning. Each sends one write through the device's connection and calls
// back once, on the poll thread, when the write has completed (0 or more, or
// a negative result code); the data it changed is read back afterwards, also
// after a failed write. A refusal before sending (no memory, no free request
// slot, the connection closing) returns at once, without a callback.
//
// Every pending operation holds references on the domain, the device and the
// sub-enclosure it names until its callback has run.
#pragma once

#include <bitset>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>

#include "enclosure/model/zone_bits.h"

namespace halvorin {

class CSesDev;
class CSesElem;
class CSubEnc;

using OperationCallback = std::function<void(int result)>;

inline constexpr uint8_t kRestartCommand = 10;
inline constexpr uint8_t kShutdownCommand = 9;
inline constexpr size_t kSystemNameBytes = 32;

// Sends the enclosure control page built from the slots' pending identify
// requests (which it consumes), then reads the status page again.
int SendEnclosureControl(CSesDev* device, OperationCallback callback);

// Switches one slot's identify LED through the enclosure control page. Once
// the enclosure accepts it, the slot's identify bit follows, under its
// sub-enclosure's lock, before the callback runs; a refused page leaves it.
int SetSlotIdentify(CSesElem* slot, bool on, OperationCallback callback);

// Writes a payload to vendor buffer 0xE9 with the 8 zero bytes in front.
// Offsets 2 (buzzer), 3 (UID LED) and 4 (system name) are read back.
int WriteVendorBuffer(CSubEnc* subenc, uint8_t offset, std::span<const uint8_t> payload,
                      OperationCallback callback);

// Offset 2: mute the buzzer. Once the enclosure accepts it, the model's
// indicator bit follows (before the callback runs), as it does for the two below.
int MuteBuzzer(CSubEnc* subenc, OperationCallback callback);
// Offset 3: switch the system identification LED.
int SetUidLed(CSubEnc* subenc, bool on, OperationCallback callback);

// Restart (10) or shutdown (9): three bytes at offset 0, nothing read back.
int SendEnclosureCommand(CSubEnc* subenc, uint8_t command, OperationCallback callback);

// The name as UTF-8: with its terminating zero when it fits in 32 bytes, else
// cut to at most 32 bytes where a character begins. An empty name sends
// nothing (-9). The model keeps the bytes sent as the name.
int SetSystemName(CSubEnc* subenc, const std::string& name, OperationCallback callback);
// The 36-byte payload SetSystemName writes.
std::vector<uint8_t> SystemNamePayload(const std::string& name);

// A port's zone: bit k set when slot k + 1 is in it. The enclosure's zoning
// table carries 80 slots.
using ZoneSlots = std::bitset<kZoneTableSlots>;
// New zones by zone entry (the entry's index among the zone entries).
using ZoneEdits = std::map<uint8_t, ZoneSlots>;

// Sends the zoning table built from the zone entries (type 29) of
// sub-enclosure 0, with `edits` in place of the entries they name: -9 when
// that sub-enclosure, its zone descriptor or one of its zone entries is
// missing, it has none, or an edit names an entry it does not have. The
// model's entries take the edits once the enclosure accepts the table; a
// refused table leaves them as they were.
int ApplyZoning(CSubEnc* subenc, const ZoneEdits& edits, OperationCallback callback);

}  // namespace halvorin
