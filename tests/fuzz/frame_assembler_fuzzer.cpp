// Feeds arbitrary bytes to the frame assembler in receives of arbitrary
// sizes, as a hostile peer would send them. The first byte sets the size of
// every receive; whole messages are taken out after each one.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "net/protocol/frame_assembler.h"

using namespace halvorin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t receive = size_t{data[0]} * 16 + 1;
    FrameAssembler frames;
    WireMessage message;
    for (size_t at = 1; at < size;) {
        const auto area = frames.FreeArea(std::min(receive, size - at));
        if (area.empty()) return 0;  // full: the connection would be closed
        std::memcpy(area.data(), data + at, area.size());
        frames.Commit(area.size());
        at += area.size();
        for (;;) {
            const auto status = frames.Next(message);
            if (status == FrameAssembler::Status::kBroken) return 0;
            if (status == FrameAssembler::Status::kNeedMore) break;
            if (message.payload.size() != message.header.length) __builtin_trap();
        }
        (void)frames.MissingForCurrent();
    }
    return 0;
}
