#include "net/protocol/frame_assembler.h"

#include <gtest/gtest.h>

#include <cstring>

namespace halvorin {
namespace {

std::vector<uint8_t> Message(uint32_t tag, size_t payload_size) {
    MSG_HDR header;
    header.tag = tag;
    header.type = MSG_SCSI_IN;
    return BuildMessage(header, std::vector<uint8_t>(payload_size, static_cast<uint8_t>(tag)));
}

void Feed(FrameAssembler& assembler, const std::vector<uint8_t>& bytes, size_t chunk) {
    for (size_t at = 0; at < bytes.size(); at += chunk) {
        auto area = assembler.FreeArea(std::min(chunk, bytes.size() - at));
        std::memcpy(area.data(), bytes.data() + at, area.size());
        assembler.Commit(area.size());
    }
}

TEST(FrameAssembler, ReassemblesMessagesSplitAnywhere) {
    std::vector<uint8_t> stream = Message(1, 10);
    auto second = Message(2, 0);
    stream.insert(stream.end(), second.begin(), second.end());
    for (size_t chunk : {1u, 7u, 33u, 1000u}) {
        FrameAssembler assembler;
        Feed(assembler, stream, chunk);
        WireMessage m;
        ASSERT_EQ(assembler.Next(m), FrameAssembler::Status::kMessage) << chunk;
        EXPECT_EQ(m.header.tag, 1u);
        EXPECT_EQ(m.payload, std::vector<uint8_t>(10, 1));
        ASSERT_EQ(assembler.Next(m), FrameAssembler::Status::kMessage);
        EXPECT_EQ(m.header.tag, 2u);
        EXPECT_TRUE(m.payload.empty());
        EXPECT_EQ(assembler.Next(m), FrameAssembler::Status::kNeedMore);
        EXPECT_TRUE(assembler.Empty());
    }
}

TEST(FrameAssembler, TellsHowMuchOfTheCurrentMessageIsMissing) {
    FrameAssembler assembler;
    EXPECT_EQ(assembler.MissingForCurrent(), kHeaderSize);
    auto message = Message(5, 100);
    Feed(assembler, std::vector<uint8_t>(message.begin(), message.begin() + 40), 40);
    EXPECT_EQ(assembler.MissingForCurrent(), kHeaderSize + 100 - 40);
}

TEST(FrameAssembler, LargestMessageFitsAndLargerBreaksTheStream) {
    FrameAssembler assembler;
    auto largest = Message(9, kMaxPayload);
    Feed(assembler, largest, 1024);
    WireMessage m;
    ASSERT_EQ(assembler.Next(m), FrameAssembler::Status::kMessage);
    EXPECT_EQ(m.payload.size(), kMaxPayload);

    std::array<uint8_t, kHeaderSize> header;
    MSG_HDR too_big;
    too_big.length = kMaxPayload + 1;
    EncodeHeader(too_big, header);
    Feed(assembler, std::vector<uint8_t>(header.begin(), header.end()), kHeaderSize);
    EXPECT_EQ(assembler.Next(m), FrameAssembler::Status::kBroken);
}

TEST(FrameAssembler, NeverAcceptsMoreThanItsFreeSpace) {
    FrameAssembler assembler;
    auto area = assembler.FreeArea(1u << 20);
    EXPECT_EQ(area.size(), FrameAssembler::kCapacity);
    assembler.Commit(FrameAssembler::kCapacity - 10);
    EXPECT_EQ(assembler.FreeArea(1024).size(), 10u);
}

}  // namespace
}  // namespace halvorin
