#include "base/utf16.h"

#include <gtest/gtest.h>

namespace halvorin {
namespace {

TEST(Utf16, RoundTripsAsciiAccentsAndAstralCharacters) {
    for (std::string text : {"srv-07", "Zürich Ωmega", "机柜 2", "\xF0\x9F\x92\xBE disk"}) {
        EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
    }
    EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x92\xBE").size(), 2u);  // surrogate pair
}

TEST(Utf16, MalformedInputBecomesReplacementCharacters) {
    EXPECT_EQ(Utf8ToUtf16("a\xFF"
                          "b"),
              u"a\uFFFDb");
    EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");      // truncated sequence
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD");  // overlong "/" is one bad character
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(Utf16, ComputerNamesCompareWithoutRegardToCase) {
    EXPECT_TRUE(EqualsIgnoreCase(u"Storage-01", u"STORAGE-01"));
    EXPECT_TRUE(EqualsIgnoreCase(u"\u00C4RGER", u"\u00E4rger"));
    EXPECT_TRUE(EqualsIgnoreCase(u"\u0421\u0415\u0420\u0412\u0415\u0420",
                                 u"\u0441\u0435\u0440\u0432\u0435\u0440"));
    EXPECT_FALSE(EqualsIgnoreCase(u"host1", u"host2"));
    EXPECT_FALSE(EqualsIgnoreCase(u"host", u"host1"));
}

}  // namespace
}  // namespace halvorin
