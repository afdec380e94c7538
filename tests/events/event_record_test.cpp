#include "shell/events/event_record.h"

#include <gtest/gtest.h>

#include <cstring>

namespace halvorin {
namespace {

TEST(EventRecord, ABlockCarriesItsEntryThere) {
    const EventEntry entry{1'765'000'000, 2, u"JB2412-500A0B0C0D0E0F00",
                           u"PSU 2 of power supply has failed."};
    const std::vector<uint8_t> block = MakeEventRecord(entry);
    EXPECT_EQ(ParseEventRecord(block), entry);
    // A source too long for the 12-bit offsets is cut, and the message still starts in reach.
    EventEntry long_source = entry;
    long_source.source = std::u16string(5000, u'x');
    const auto parsed = ParseEventRecord(MakeEventRecord(long_source));
    ASSERT_TRUE(parsed);
    EXPECT_LT(parsed->source.size(), 2100u);
    EXPECT_EQ(parsed->message, entry.message);
}

TEST(EventRecord, BlocksThatPointOutsideThemselvesOrLackTheirEndAreDropped) {
    const std::vector<uint8_t> good = MakeEventRecord({5, 1, u"src", u"msg"});
    const auto with = [&](size_t at, uint16_t value) {
        std::vector<uint8_t> block = good;
        std::memcpy(block.data() + at, &value, 2);
        return block;
    };
    EXPECT_FALSE(ParseEventRecord(with(24, 4)));                      // into the header
    EXPECT_FALSE(ParseEventRecord(with(26, uint16_t(good.size()))));  // past the end
    EXPECT_FALSE(ParseEventRecord(with(26, 0x0FFF)));                 // far past, odd
    EXPECT_FALSE(ParseEventRecord(with(20, 7)));                      // no such level
    std::vector<uint8_t> unterminated = good;
    unterminated.resize(unterminated.size() - 2);  // the message's terminator gone
    EXPECT_FALSE(ParseEventRecord(unterminated));
    EXPECT_FALSE(ParseEventRecord(std::span(good.data(), 10)));
    EXPECT_TRUE(ParseEventRecord(good));
}

}  // namespace
}  // namespace halvorin
