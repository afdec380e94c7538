// One TCMU device's command ring, in the memory the kernel shares through
// /dev/uioN (UioDevice): reads the commands it queues and writes the answers
// back. Answers may come in any order: each takes the oldest entry not yet
// answered and names its command there, as the ring's out-of-order mode
// asks. Used by one thread only (the LUN's loop); the data of a command stays
// valid until its answer is written. The caller tells the kernel (Notify).
#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "net/protocol/wire_format.h"

namespace halvorin::sim {

struct TcmuCommand {
    uint16_t id = 0;
    Cdb cdb{};
    // Where the command's data lies in the mapping, in order.
    std::vector<std::span<uint8_t>> data;
    size_t DataLength() const;
};

// The kernel asks to abort these commands (the initiator gave up on them).
struct TcmuAbort {
    std::vector<uint16_t> ids;
};

using TcmuEntry = std::variant<TcmuCommand, TcmuAbort>;

struct TcmuAnswer {
    uint16_t id = 0;
    uint8_t status = 0;
    uint32_t data_in_length = 0;  // valid bytes of a data-in answer
    std::vector<uint8_t> sense;
};

class TcmuRing {
  public:
    // Throws std::runtime_error for a ring it does not speak (another
    // mailbox version, no out-of-order answers, a ring outside the memory).
    explicit TcmuRing(std::span<uint8_t> memory);
    TcmuRing(const TcmuRing&) = delete;
    TcmuRing& operator=(const TcmuRing&) = delete;

    bool TellsAborts() const;

    // What the kernel queued since the last call. A malformed entry throws
    // std::runtime_error.
    std::vector<TcmuEntry> TakeNew();
    // Writes one answer and gives every answered entry back to the kernel.
    void Answer(const TcmuAnswer& answer);

  private:
    struct Slot {
        uint32_t offset = 0;  // within the command ring
        uint32_t length = 0;
        bool awaits_answer = false;
    };
    uint8_t* At(uint64_t offset, uint64_t length) const;
    TcmuEntry ReadCommand(uint8_t* entry, uint32_t length) const;
    TcmuEntry ReadAbort(uint8_t* entry, uint32_t length) const;
    void ReleaseAnsweredSlots();

    uint8_t* map_;
    size_t map_size_;
    uint32_t ring_offset_ = 0;
    uint32_t ring_size_ = 0;
    uint32_t next_ = 0;       // the next entry to read
    uint32_t tail_ = 0;       // the kernel may reuse everything before this
    std::deque<Slot> slots_;  // read but not yet given back, in ring order
};

}  // namespace halvorin::sim
