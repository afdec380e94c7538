// Cuts a received byte stream into messages. Both ends of the connection
// receive into FreeArea(), Commit() what arrived and take whole messages out
// with Next(). A bad header breaks the stream for good: it is never
// resynchronised, the connection has to go.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "net/protocol/wire_format.h"

namespace halvorin {

struct WireMessage {
    MSG_HDR header;
    std::vector<uint8_t> payload;
};

class FrameAssembler {
  public:
    // Room for the largest message plus one 1024-byte receive.
    static constexpr size_t kCapacity = kHeaderSize + kMaxPayload + 1024;

    enum class Status { kNeedMore, kMessage, kBroken };

    FrameAssembler();

    // Where the next receive may write; never larger than the free space.
    std::span<uint8_t> FreeArea(size_t at_most);
    void Commit(size_t received);

    // Takes the first complete message out of the buffer.
    Status Next(WireMessage& out);

    // Bytes of the message under way that have not arrived yet (header first).
    size_t MissingForCurrent() const;
    bool Empty() const { return fill_ == 0; }
    void Clear() { fill_ = 0; }

  private:
    // Left uninitialised: only the pages a large message reaches become resident.
    std::unique_ptr<uint8_t[]> buffer_;
    size_t fill_ = 0;
};

}  // namespace halvorin
