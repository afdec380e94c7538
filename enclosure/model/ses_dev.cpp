#include "enclosure/model/ses_dev.h"

#include <algorithm>
#include <new>

#include "enclosure/model/model_counts.h"
#include "enclosure/model/ses_domain.h"

namespace halvorin {

namespace {

constexpr int64_t kStatusPeriodSeconds = 60;

}  // namespace

CSesDev::CSesDev(CSesDomain* owner, const SES_ADDR& addr, int64_t now_seconds)
    : domain(owner),
      last_status_time(now_seconds - kStatusPeriodSeconds),
      id_(addr.Identifier()),
      address_(addr) {}

CSesDev::~CSesDev() = default;  // sub-enclosures hold references on their device: none is left

SES_ADDR CSesDev::Address() const {
    std::lock_guard lock(mutex);
    return address_;
}

std::array<uint8_t, 4> CSesDev::Generation() const {
    std::lock_guard lock(mutex);
    return generation;
}

void CSesDev::SetAddress(const SES_ADDR& address) {
    std::lock_guard lock(mutex);
    address_ = address;
}

uint16_t CSesDev::Flags() const {
    std::lock_guard lock(mutex);
    return flags;
}

void CSesDev::SetFlags(uint16_t set, uint16_t clear) {
    std::lock_guard lock(mutex);
    flags = static_cast<uint16_t>((flags | set) & ~clear);
}

CSubEnc* AcquireSubEnc(CSesDev* device, uint8_t id) {
    std::lock_guard lock(device->mutex);
    auto it = device->subencs.find(id);
    if (it == device->subencs.end()) return nullptr;
    ++ModelCounts::Refs(*it->second);
    return it->second;
}

void RetainSubEnc(CSubEnc* subenc) {
    std::lock_guard lock(subenc->dev->mutex);
    ++ModelCounts::Refs(*subenc);
}

void ReleaseSubEnc(CSubEnc* subenc) {
    CSesDev* device = subenc->dev;
    {
        std::lock_guard lock(device->mutex);
        if (--ModelCounts::Refs(*subenc) > 0) return;
        if (ModelCounts::InMap(*subenc)) device->subencs.erase(subenc->id);
    }
    delete subenc;
    ReleaseDevice(device);
}

void SweepSubEnclosures(CSesDev* device, const std::vector<uint8_t>& keep) {
    std::vector<CSubEnc*> dead;
    {
        std::lock_guard lock(device->mutex);
        for (auto it = device->subencs.begin(); it != device->subencs.end();) {
            CSubEnc* subenc = it->second;
            if (std::find(keep.begin(), keep.end(), subenc->id) != keep.end()) {
                ++it;
                continue;
            }
            it = device->subencs.erase(it);
            ModelCounts::InMap(*subenc) = false;
            // The type descriptors do not count their sub-enclosure: forget it
            // before it can be freed.
            for (ELEM_TYPE_DESC& d : device->type_descs) {
                if (d.subenc == subenc) d.subenc = nullptr;
            }
            if (--ModelCounts::Refs(*subenc) == 0) dead.push_back(subenc);
        }
    }
    for (CSubEnc* subenc : dead) {
        delete subenc;
        ReleaseDevice(device);
    }
}

CSubEnc* GetOrCreateSubEnc(CSesDev* device, uint8_t id, const std::array<uint8_t, 8>& logical_id) {
    if (CSubEnc* existing = AcquireSubEnc(device, id)) return existing;
    std::unique_ptr<CSubEnc> fresh(new (std::nothrow) CSubEnc(device, id, logical_id));
    if (!fresh) return nullptr;
    RetainDevice(device);  // the new sub-enclosure's reference on its device
    CSubEnc* result;
    bool inserted;
    {
        std::lock_guard lock(device->mutex);
        auto [it, was_inserted] = device->subencs.emplace(id, fresh.get());
        inserted = was_inserted;
        result = it->second;
        ++ModelCounts::Refs(*result);  // the caller's
    }
    if (inserted) {
        fresh.release();  // the map owns it
    } else {
        ReleaseDevice(device);  // another thread was first; the new one goes
    }
    return result;
}

std::vector<Ref<CSubEnc>> SnapshotSubEnclosures(CSesDev* device) {
    std::vector<Ref<CSubEnc>> all;
    {
        std::lock_guard lock(device->mutex);
        for (auto& [id, subenc] : device->subencs) {
            ++ModelCounts::Refs(*subenc);
            all.push_back(Ref<CSubEnc>::Adopt(subenc));
        }
    }
    std::sort(all.begin(), all.end(),
              [](const Ref<CSubEnc>& a, const Ref<CSubEnc>& b) { return a->id < b->id; });
    return all;
}

int TypeDescriptorAt(const CSesDev* device, size_t index, ELEM_TYPE_DESC& out) {
    if (index >= device->type_descs.size()) return kNotFound;
    out = device->type_descs[index];
    return kOk;
}

int NextTypeDescriptor(const CSesDev* device, uint8_t previous, const CSubEnc* subenc, uint8_t type,
                       uint8_t& index) {
    const size_t start = previous == kNoTypeDescriptor ? 0 : size_t{previous} + 1;
    for (size_t i = start; i < device->type_descs.size() && i < kNoTypeDescriptor; ++i) {
        const ELEM_TYPE_DESC& d = device->type_descs[i];
        if (d.type == type && d.subenc == subenc) {
            index = static_cast<uint8_t>(i);
            return kOk;
        }
    }
    index = kNoTypeDescriptor;
    return kNotFound;
}

int FindTypeDescriptor(const CSesDev* device, const CSubEnc* subenc, uint8_t type, uint8_t& index) {
    return NextTypeDescriptor(device, kNoTypeDescriptor, subenc, type, index);
}

int CountTypeDescriptors(const CSesDev* device, const CSubEnc* subenc, uint8_t type) {
    int count = 0;
    for (const ELEM_TYPE_DESC& d : device->type_descs)
        count += d.type == type && d.subenc == subenc;
    return count;
}

}  // namespace halvorin
