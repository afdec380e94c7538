#include "net/protocol/frame_assembler.h"

#include <algorithm>
#include <cstring>

namespace halvorin {

FrameAssembler::FrameAssembler() : buffer_(new uint8_t[kCapacity]) {}

std::span<uint8_t> FrameAssembler::FreeArea(size_t at_most) {
    size_t room = std::min(at_most, kCapacity - fill_);
    return {buffer_.get() + fill_, room};
}

void FrameAssembler::Commit(size_t received) {
    fill_ += std::min(received, kCapacity - fill_);
}

FrameAssembler::Status FrameAssembler::Next(WireMessage& out) {
    if (fill_ < kHeaderSize) return Status::kNeedMore;
    MSG_HDR header =
        DecodeHeader(std::span<const uint8_t, kHeaderSize>(buffer_.get(), kHeaderSize));
    if (!IsUsableHeader(header)) return Status::kBroken;
    const size_t total = kHeaderSize + header.length;
    if (fill_ < total) return Status::kNeedMore;
    out.header = header;
    out.payload.assign(buffer_.get() + kHeaderSize, buffer_.get() + total);
    std::memmove(buffer_.get(), buffer_.get() + total, fill_ - total);
    fill_ -= total;
    return Status::kMessage;
}

size_t FrameAssembler::MissingForCurrent() const {
    if (fill_ < kHeaderSize) return kHeaderSize - fill_;
    MSG_HDR header =
        DecodeHeader(std::span<const uint8_t, kHeaderSize>(buffer_.get(), kHeaderSize));
    if (!IsUsableHeader(header)) return 0;
    const size_t total = kHeaderSize + header.length;
    return fill_ < total ? total - fill_ : 0;
}

}  // namespace halvorin
