#include "enclosure/ops/control_operations.h"

#include <algorithm>
#include <vector>

#include "base/result_code.h"
#include "base/utf16.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/model_ref.h"
#include "enclosure/ops/operation_holds.h"
#include "enclosure/pages/cdb.h"
#include "enclosure/pages/control_pages.h"
#include "enclosure/pages/request_kind.h"
#include "enclosure/poll/read_chain.h"

namespace halvorin {

namespace {

constexpr size_t kVendorWritePrefix = 8;
constexpr size_t kZoneEntrySize = 14;
constexpr size_t kZoneTableHeader = 8;

// Sends one data-out command; `reread` is the kind to read back afterwards (0: none).
int SendWrite(CSesDev* device, CSubEnc* subenc, const Cdb& cdb, std::vector<uint8_t> data,
              uint32_t reread, OperationCallback callback) {
    CSesDomain* domain = device->domain;
    auto holds = std::make_shared<OperationHolds>(HoldFor(device, subenc));
    return domain->client.SendScsiOut(
        device->Address(), cdb, data, domain->request_timeout,
        [holds, reread, callback = std::move(callback)](std::span<const uint8_t>, int result) {
            if (callback) callback(result);
            if (reread != 0) IssueRead(holds->device.get(), reread, ChainFlags{});
        });
}

// What a write the enclosure accepted changes in the model at once, under the
// sub-enclosure's lock and before the caller hears of it (the read-back that
// follows confirms it). The write holds the sub-enclosure until the callback
// has run.
OperationCallback RecordOnSuccess(CSubEnc* subenc, std::function<void(CSubEnc&)> change,
                                  OperationCallback callback) {
    return [subenc, change = std::move(change), callback = std::move(callback)](int result) {
        if (result >= 0) {
            std::lock_guard lock(subenc->mutex);
            change(*subenc);
        }
        if (callback) callback(result);
    };
}

// The zone entries of sub-enclosure 0 in index order; empty when one is missing.
std::vector<Ref<CSesElem>> ZoneEntries(CSubEnc* primary, uint8_t index, size_t entries) {
    std::vector<Ref<CSesElem>> zones;
    for (size_t i = 0; i < entries; ++i) {
        zones.push_back(Ref<CSesElem>::Adopt(AcquireElem(primary, index, static_cast<uint8_t>(i))));
        if (!zones.back()) return {};
    }
    return zones;
}

// The zoning table the enclosure takes: each entry's slots as edited, or as
// read when no edit names it.
std::vector<uint8_t> ZoneTable(CSubEnc& primary, const std::vector<Ref<CSesElem>>& zones,
                               const ZoneEdits& edits) {
    std::vector<uint8_t> table(kZoneTableHeader + zones.size() * kZoneEntrySize, 0);
    table[1] = static_cast<uint8_t>(zones.size());
    std::lock_guard lock(primary.mutex);
    for (size_t i = 0; i < zones.size(); ++i) {
        uint8_t* entry = &table[kZoneTableHeader + i * kZoneEntrySize];
        entry[0] = static_cast<uint8_t>(i);
        const std::span<uint8_t> slots(entry + 4, kZoneTableSlots / 8);
        if (auto edit = edits.find(static_cast<uint8_t>(i)); edit != edits.end()) {
            for (int k = 0; k < kZoneTableSlots; ++k)
                SetZoneSlot(slots, k, edit->second[size_t(k)]);
        } else if (zones[i]->type == kTypeZoneEntry) {
            std::copy_n(zones[i]->type_data.begin(), slots.size(), slots.begin());
        }
    }
    return table;
}

uint32_t RereadKind(uint8_t offset) {
    switch (offset) {
        case kVendorBuzzer:
            return kReadBuzzer;
        case kVendorUidLed:
            return kReadUidLed;
        case kVendorSystemName:
            return kReadSystemName;
        default:
            return 0;
    }
}

}  // namespace

int SendEnclosureControl(CSesDev* device, OperationCallback callback) {
    std::vector<uint8_t> page = BuildEnclosureControlPage(device);
    const Cdb cdb = WriteSesPageCdb(0x02, static_cast<uint16_t>(page.size()));
    return SendWrite(device, nullptr, cdb, std::move(page), kReadEnclosureStatus,
                     std::move(callback));
}

int SetSlotIdentify(CSesElem* slot, bool on, OperationCallback callback) {
    CSubEnc* subenc = slot->subenc;
    // The change holds the slot and its sub-enclosure until it has run.
    const auto record = [held = Ref<CSubEnc>::Share(subenc), element = Ref<CSesElem>::Share(slot),
                         on](CSubEnc&) {
        element->state =
            on ? element->state | kStateIdentifyOn : element->state & ~uint32_t(kStateIdentifyOn);
    };
    slot->pending_request = on ? kRequestIdentifyOn : kRequestIdentifyOff;
    const int sent =
        SendEnclosureControl(subenc->dev, RecordOnSuccess(subenc, record, std::move(callback)));
    if (sent < 0) slot->pending_request = 0;  // refused before it was sent
    return sent;
}

int WriteVendorBuffer(CSubEnc* subenc, uint8_t offset, std::span<const uint8_t> payload,
                      OperationCallback callback) {
    std::vector<uint8_t> data(kVendorWritePrefix, 0);
    data.insert(data.end(), payload.begin(), payload.end());
    const Cdb cdb = WriteVendorBufferCdb(offset, static_cast<uint32_t>(data.size()));
    return SendWrite(subenc->dev, subenc, cdb, std::move(data), RereadKind(offset),
                     std::move(callback));
}

int MuteBuzzer(CSubEnc* subenc, OperationCallback callback) {
    const uint8_t payload[4] = {0, 0, 0, 0};
    return WriteVendorBuffer(
        subenc, kVendorBuzzer, payload,
        RecordOnSuccess(
            subenc, [](CSubEnc& s) { s.indicators &= ~uint16_t(kIndicatorBuzzer); },
            std::move(callback)));
}

int SetUidLed(CSubEnc* subenc, bool on, OperationCallback callback) {
    const uint8_t payload[4] = {static_cast<uint8_t>(on ? 1 : 0), 0, 0, 0};
    const auto record = [on](CSubEnc& s) {
        s.indicators = on ? (s.indicators | kIndicatorUidLed) : (s.indicators & ~kIndicatorUidLed);
    };
    return WriteVendorBuffer(subenc, kVendorUidLed, payload,
                             RecordOnSuccess(subenc, record, std::move(callback)));
}

int SendEnclosureCommand(CSubEnc* subenc, uint8_t command, OperationCallback callback) {
    std::vector<uint8_t> data = {command, 0, 0};
    const Cdb cdb = WriteVendorBufferCdb(kVendorCommand, static_cast<uint32_t>(data.size()));
    return SendWrite(subenc->dev, subenc, cdb, std::move(data), 0, std::move(callback));
}

std::vector<uint8_t> SystemNamePayload(const std::string& name) {
    std::vector<uint8_t> payload(4 + kSystemNameBytes, 0);
    // A 32-byte name has no terminator; a longer one is cut where a UTF-8
    // character begins, never inside one.
    const std::string_view kept = Utf8Prefix(name, kSystemNameBytes);
    std::copy(kept.begin(), kept.end(), payload.begin() + 4);
    return payload;
}

int SetSystemName(CSubEnc* subenc, const std::string& name, OperationCallback callback) {
    if (name.empty()) return kGeneralFailure;
    const std::vector<uint8_t> payload = SystemNamePayload(name);
    // The model keeps exactly the bytes sent.
    const auto begin = payload.begin() + 4;
    const std::string sent(begin, std::find(begin, payload.end(), uint8_t(0)));
    const auto record = [sent](CSubEnc& s) {
        std::fill(std::begin(s.system_name), std::end(s.system_name), '\0');
        std::copy_n(sent.begin(), std::min(sent.size(), sizeof s.system_name - 1), s.system_name);
    };
    return WriteVendorBuffer(subenc, kVendorSystemName, payload,
                             RecordOnSuccess(subenc, record, std::move(callback)));
}

int ApplyZoning(CSubEnc* subenc, const ZoneEdits& edits, OperationCallback callback) {
    CSesDev* device = subenc->dev;
    Ref<CSubEnc> primary = Ref<CSubEnc>::Adopt(AcquireSubEnc(device, 0));
    if (!primary) return kGeneralFailure;
    uint8_t index = kNoTypeDescriptor;
    if (FindTypeDescriptor(device, primary.get(), kTypeZoneEntry, index) != kOk)
        return kGeneralFailure;
    const size_t entries = device->type_descs[index].possible_elements;
    if (entries == 0) return kGeneralFailure;  // an enclosure without zone entries
    if (!edits.empty() && edits.rbegin()->first >= entries) return kGeneralFailure;
    const std::vector<Ref<CSesElem>> zones = ZoneEntries(primary.get(), index, entries);
    if (zones.empty()) return kGeneralFailure;  // one is missing; nothing has been sent
    std::vector<uint8_t> table = ZoneTable(*primary, zones, edits);
    // The entries' slots beyond the table's stay as they were read.
    const auto record = [primary, zones, edits](CSubEnc&) {
        for (const auto& [entry, slots] : edits) {
            for (int k = 0; k < kZoneTableSlots; ++k)
                SetZoneSlot(zones[entry]->type_data, k, slots[size_t(k)]);
        }
    };
    const Cdb cdb = WriteVendorBufferCdb(kVendorZones, static_cast<uint32_t>(table.size()));
    return SendWrite(device, subenc, cdb, std::move(table), 0,
                     RecordOnSuccess(primary.get(), record, std::move(callback)));
}

}  // namespace halvorin
