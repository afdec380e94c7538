#include "sim/tcmu/tcmu_ring.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <stdexcept>

#include "enclosure/scsi/sg_host.h"
#include "sim/tcmu/tcmu_layout.h"

namespace halvorin::sim {

namespace {

constexpr uint16_t kMailboxVersion = 2;

template <typename T>
T Load(const uint8_t* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

template <typename T>
void Store(uint8_t* p, T value) {
    std::memcpy(p, &value, sizeof value);
}

// The head and tail are shared with the kernel while it runs.
uint32_t LoadAcquire(uint8_t* p) {
    return std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(p))
        .load(std::memory_order_acquire);
}

void StoreRelease(uint8_t* p, uint32_t value) {
    std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(p))
        .store(value, std::memory_order_release);
}

std::runtime_error RingError(const std::string& what) {
    return std::runtime_error("TCMU ring: " + what);
}

}  // namespace

size_t TcmuCommand::DataLength() const {
    size_t total = 0;
    for (const auto& piece : data)
        total += piece.size();
    return total;
}

TcmuRing::TcmuRing(std::span<uint8_t> memory) : map_(memory.data()), map_size_(memory.size()) {
    if (map_size_ < HALVORIN_TCMU_MB_CMD_TAIL + 4) throw RingError("no room for the mailbox");
    const auto version = Load<uint16_t>(map_ + HALVORIN_TCMU_MB_VERSION);
    const auto flags = Load<uint16_t>(map_ + HALVORIN_TCMU_MB_FLAGS);
    ring_offset_ = Load<uint32_t>(map_ + HALVORIN_TCMU_MB_CMDR_OFF);
    ring_size_ = Load<uint32_t>(map_ + HALVORIN_TCMU_MB_CMDR_SIZE);
    if (version != kMailboxVersion) throw RingError("mailbox version " + std::to_string(version));
    if (!(flags & HALVORIN_TCMU_CAP_OOOC))
        throw RingError("the kernel cannot take answers out of order");
    if (ring_size_ == 0 || uint64_t{ring_offset_} + ring_size_ > map_size_)
        throw RingError("command ring outside the mapping");
    // Start where the kernel will next look for answers.
    next_ = tail_ = LoadAcquire(map_ + HALVORIN_TCMU_MB_CMD_TAIL);
    if (tail_ >= ring_size_) throw RingError("tail outside the command ring");
}

bool TcmuRing::TellsAborts() const {
    return Load<uint16_t>(map_ + HALVORIN_TCMU_MB_FLAGS) & HALVORIN_TCMU_CAP_TMR;
}

uint8_t* TcmuRing::At(uint64_t offset, uint64_t length) const {
    if (offset > map_size_ || length > map_size_ - offset)
        throw RingError("an entry points outside the mapping");
    return map_ + offset;
}

std::vector<TcmuEntry> TcmuRing::TakeNew() {
    std::vector<TcmuEntry> entries;
    const uint32_t head = LoadAcquire(map_ + HALVORIN_TCMU_MB_CMD_HEAD);
    if (head >= ring_size_) throw RingError("head outside the command ring");
    while (next_ != head) {
        uint8_t* entry = At(uint64_t{ring_offset_} + next_, 8);
        const auto len_op = Load<uint32_t>(entry + HALVORIN_TCMU_ENTRY_LEN_OP);
        const uint32_t length = len_op & ~uint32_t{HALVORIN_TCMU_OP_MASK};
        const uint32_t op = len_op & HALVORIN_TCMU_OP_MASK;
        if (length == 0 || length > ring_size_ - next_) throw RingError("entry of a bad length");
        At(uint64_t{ring_offset_} + next_, length);
        if (op == HALVORIN_TCMU_OP_CMD) entries.push_back(ReadCommand(entry, length));
        if (op == HALVORIN_TCMU_OP_TMR) entries.push_back(ReadAbort(entry, length));
        slots_.push_back({next_, length, op == HALVORIN_TCMU_OP_CMD});
        next_ = (next_ + length) % ring_size_;
    }
    ReleaseAnsweredSlots();  // a ring of padding and aborts alone is given back at once
    return entries;
}

TcmuEntry TcmuRing::ReadCommand(uint8_t* entry, uint32_t length) const {
    TcmuCommand command;
    command.id = Load<uint16_t>(entry + HALVORIN_TCMU_ENTRY_CMD_ID);
    const auto iov_count = Load<uint32_t>(entry + HALVORIN_TCMU_REQ_IOV_CNT);
    if (HALVORIN_TCMU_REQ_IOV + uint64_t{iov_count} * HALVORIN_TCMU_IOVEC_SIZE > length)
        throw RingError("more data pieces than the entry holds");
    const auto cdb_offset = Load<uint64_t>(entry + HALVORIN_TCMU_REQ_CDB_OFF);
    const uint8_t* cdb = At(cdb_offset, 1);
    const size_t cdb_length = std::min<size_t>(CdbLengthForOpcode(cdb[0]), command.cdb.size());
    std::memcpy(command.cdb.data(), At(cdb_offset, cdb_length), cdb_length);
    for (uint32_t i = 0; i < iov_count; ++i) {
        const uint8_t* iov = entry + HALVORIN_TCMU_REQ_IOV + i * HALVORIN_TCMU_IOVEC_SIZE;
        const auto base = Load<uint64_t>(iov);
        const auto size = Load<uint64_t>(iov + 8);
        command.data.emplace_back(At(base, size), size);
    }
    return command;
}

TcmuEntry TcmuRing::ReadAbort(uint8_t* entry, uint32_t length) const {
    TcmuAbort abort;
    const auto count = Load<uint32_t>(entry + HALVORIN_TCMU_TMR_CMD_CNT);
    if (HALVORIN_TCMU_TMR_CMD_IDS + uint64_t{count} * 2 > length)
        throw RingError("more aborted commands than the entry holds");
    for (uint32_t i = 0; i < count; ++i)
        abort.ids.push_back(Load<uint16_t>(entry + HALVORIN_TCMU_TMR_CMD_IDS + i * 2));
    return abort;
}

void TcmuRing::Answer(const TcmuAnswer& answer) {
    auto slot =
        std::find_if(slots_.begin(), slots_.end(), [](const Slot& s) { return s.awaits_answer; });
    if (slot == slots_.end()) throw RingError("an answer without a command");
    uint8_t* entry = map_ + ring_offset_ + slot->offset;
    Store<uint16_t>(entry + HALVORIN_TCMU_ENTRY_CMD_ID, answer.id);
    entry[HALVORIN_TCMU_ENTRY_UFLAGS] = HALVORIN_TCMU_UFLAG_READ_LEN;
    entry[HALVORIN_TCMU_RSP_STATUS] = answer.status;
    Store<uint32_t>(entry + HALVORIN_TCMU_RSP_READ_LEN, answer.data_in_length);
    uint8_t* sense = entry + HALVORIN_TCMU_RSP_SENSE;
    std::memset(sense, 0, HALVORIN_TCMU_SENSE_SIZE);
    // copy_n, not memcpy: an answer without sense has no data pointer at all.
    std::copy_n(answer.sense.begin(),
                std::min<size_t>(answer.sense.size(), HALVORIN_TCMU_SENSE_SIZE), sense);
    slot->awaits_answer = false;
    ReleaseAnsweredSlots();
}

void TcmuRing::ReleaseAnsweredSlots() {
    while (!slots_.empty() && !slots_.front().awaits_answer) {
        tail_ = (slots_.front().offset + slots_.front().length) % ring_size_;
        slots_.pop_front();
    }
    StoreRelease(map_ + HALVORIN_TCMU_MB_CMD_TAIL, tail_);
}

}  // namespace halvorin::sim
