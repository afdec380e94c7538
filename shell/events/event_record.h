// An event as the event list takes it from outside the interface thread or
// from the history: one block with a fixed header and two NUL-terminated
// UTF-16 texts the header points at.
//
//   offset 0   8 bytes  not read
//   offset 8   8 bytes  time, seconds since 1970
//   offset 16  4 bytes  not read
//   offset 20  4 bytes  level (0 information, 1 warning, 2 error)
//   offset 24  2 bytes  low 12 bits: byte offset of the source text
//   offset 26  2 bytes  low 12 bits: byte offset of the message text
//
// Multi-byte fields are in the host's byte order (the block never leaves
// the process).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace halvorin {

struct EventEntry {
    int64_t time = 0;
    int level = 0;  // 0..2; kDeletedEvent in the history: the operator deleted that event
    std::u16string source;
    std::u16string message;
    bool operator==(const EventEntry&) const = default;
};

// The level of a history line that records the deletion of the event with
// the same time, source and message, so a deleted row stays deleted.
inline constexpr int kDeletedEvent = -1;

inline constexpr size_t kEventRecordHeader = 28;
inline constexpr size_t kEventRecordMaxOffset = 0x0FFF;

// The block for an entry; texts are cut so that both start within the
// 12-bit offsets.
std::vector<uint8_t> MakeEventRecord(const EventEntry& entry);

// The entry of a block, or nothing when a text offset points outside the
// block or into its header, a text is not terminated inside it, its length
// is odd, or the level is not 0, 1 or 2.
std::optional<EventEntry> ParseEventRecord(std::span<const uint8_t> block);

}  // namespace halvorin
