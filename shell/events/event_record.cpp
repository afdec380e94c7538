#include "shell/events/event_record.h"

#include <cstring>

namespace halvorin {

namespace {

template <typename T>
T Read(std::span<const uint8_t> block, size_t at) {
    T value;
    std::memcpy(&value, block.data() + at, sizeof value);
    return value;
}

template <typename T>
void Write(std::vector<uint8_t>& block, size_t at, T value) {
    std::memcpy(block.data() + at, &value, sizeof value);
}

void Append(std::vector<uint8_t>& block, const std::u16string& text) {
    const size_t at = block.size();
    block.resize(at + (text.size() + 1) * 2);
    std::memcpy(block.data() + at, text.data(), text.size() * 2);
}

std::optional<std::u16string> TextAt(std::span<const uint8_t> block, size_t offset) {
    if (offset < kEventRecordHeader || offset >= block.size() || offset % 2 != 0) return {};
    std::u16string text;
    for (size_t at = offset; at + 1 < block.size(); at += 2) {
        const auto unit = Read<char16_t>(block, at);
        if (unit == 0) return text;
        text.push_back(unit);
    }
    return {};  // not terminated inside the block
}

}  // namespace

std::vector<uint8_t> MakeEventRecord(const EventEntry& entry) {
    // The source must start at a 12-bit offset, so must the message: the
    // source is cut to leave it room.
    const size_t source_room = (kEventRecordMaxOffset - kEventRecordHeader) / 2 - 1;
    const std::u16string source = entry.source.substr(0, source_room);
    std::vector<uint8_t> block(kEventRecordHeader, 0);
    Write<int64_t>(block, 8, entry.time);
    Write<int32_t>(block, 20, entry.level);
    Write<uint16_t>(block, 24, static_cast<uint16_t>(kEventRecordHeader));
    Append(block, source);
    Write<uint16_t>(block, 26, static_cast<uint16_t>(block.size()));
    Append(block, entry.message);
    return block;
}

std::optional<EventEntry> ParseEventRecord(std::span<const uint8_t> block) {
    if (block.size() < kEventRecordHeader) return {};
    EventEntry entry;
    entry.time = Read<int64_t>(block, 8);
    entry.level = Read<int32_t>(block, 20);
    if (entry.level < 0 || entry.level > 2) return {};
    auto source = TextAt(block, Read<uint16_t>(block, 24) & kEventRecordMaxOffset);
    auto message = TextAt(block, Read<uint16_t>(block, 26) & kEventRecordMaxOffset);
    if (!source || !message) return {};
    entry.source = std::move(*source);
    entry.message = std::move(*message);
    return entry;
}

}  // namespace halvorin
