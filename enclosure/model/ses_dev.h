// CSesDev: one SES device of a host, its configuration (type descriptors)
// and the sub-enclosures it owns. Its mutex guards the flags, the
// sub-enclosure map and the sub-enclosure reference counts. The type
// descriptor array and the other configuration fields change only on the
// thread that runs the poll step and are read there without a lock.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "enclosure/model/elem_type_desc.h"
#include "enclosure/model/sub_enc.h"
#include "net/protocol/ses_addr.h"

namespace halvorin {

class CSesDomain;

enum DeviceFlag : uint16_t {
    kDeviceReady = 0x01,                   // the first complete read chain has finished
    kDeviceUpgrading = 0x02,               // a firmware upgrade thread runs
    kDeviceStatusAfterDescriptors = 0x04,  // read the status page right after the descriptors
    kDeviceRemoved = 0x08,                 // no longer on the host
};

class CSesDev final : public CSesObj {
  public:
    CSesDev(CSesDomain* domain, const SES_ADDR& address, int64_t now_seconds);
    ~CSesDev() override;

    CSesDomain* const domain;  // owner, not counted
    std::array<uint8_t, 4>
        generation{};             // written under mutex; the poll thread may read it without
    uint8_t type_desc_count = 0;  // of the configuration; the array may hold more (29, 30, 31)
    uint8_t closing = 0;
    uint16_t flags = 0;  // DeviceFlag, guarded by mutex
    uint16_t element_count = 0;
    mutable std::mutex mutex;
    int64_t last_status_time;    // seconds: the last status sample for the histories
    int64_t last_read_time = 0;  // seconds: the last status page decoded, 0 before
    std::vector<ELEM_TYPE_DESC> type_descs;
    std::unordered_map<uint8_t, CSubEnc*> subencs;
    // Poll-thread bookkeeping of the first read chain.
    bool chain_running = false;  // a chained read is outstanding
    int chain_error = 0;         // why the last chain stopped early, 0 when it did not

    // Where the device is; the agent may report it at a new place (its host
    // adapters renumbered) and the device follows. Guarded by mutex.
    SES_ADDR Address() const;
    std::array<uint8_t, 4> Generation() const;
    void SetAddress(const SES_ADDR& address);

    uint16_t Flags() const;
    void SetFlags(uint16_t set, uint16_t clear = 0);
    bool IsRemoved() const { return Flags() & kDeviceRemoved; }
    const DeviceId& Identifier() const { return id_; }

  private:
    const DeviceId id_;
    SES_ADDR address_;
};

// ---- sub-enclosure references -----------------------------------------------------

CSubEnc* AcquireSubEnc(CSesDev* device, uint8_t id);
void RetainSubEnc(CSubEnc* subenc);
// At zero the sub-enclosure leaves the map, is destroyed and releases its device.
void ReleaseSubEnc(CSubEnc* subenc);
// The existing sub-enclosure gains a reference, or a new one (holding one on
// the device) enters the map with one more for the caller. Nothing when out of memory.
CSubEnc* GetOrCreateSubEnc(CSesDev* device, uint8_t id, const std::array<uint8_t, 8>& logical_id);
// Takes every sub-enclosure whose identifier is not in `keep` out of the map
// and drops the map's reference (holders keep theirs).
void SweepSubEnclosures(CSesDev* device, const std::vector<uint8_t>& keep);

// Every sub-enclosure of the device by identifier.
std::vector<Ref<CSubEnc>> SnapshotSubEnclosures(CSesDev* device);

// ---- type descriptor queries (no lock: the array changes on the poll thread only) ----

inline constexpr uint8_t kNoTypeDescriptor = 255;

int TypeDescriptorAt(const CSesDev* device, size_t index, ELEM_TYPE_DESC& out);
// The index of the first descriptor of a type in a sub-enclosure, or -5 (and 255).
int FindTypeDescriptor(const CSesDev* device, const CSubEnc* subenc, uint8_t type, uint8_t& index);
int NextTypeDescriptor(const CSesDev* device, uint8_t previous, const CSubEnc* subenc, uint8_t type,
                       uint8_t& index);
int CountTypeDescriptors(const CSesDev* device, const CSubEnc* subenc, uint8_t type);

}  // namespace halvorin
