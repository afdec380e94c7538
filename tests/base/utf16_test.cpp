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

namespace halvorin {
namespace {

TEST(Utf8Prefix, CutsOnlyWhereACharacterBegins) {
    struct Case {
        std::string text;
        size_t max;
        std::string kept;
    } cases[] = {
        {"abc", 5, "abc"},
        {"abc", 3, "abc"},
        {"abcd", 3, "abc"},
        {"a\xC3\xA9", 2, "a"},  // é is two bytes
        {"a\xC3\xA9", 3, "a\xC3\xA9"},
        {"\xE6\xA9\x9F\xE6\xA9\x9F", 5, "\xE6\xA9\x9F"},  // three-byte characters
        {"\xF0\x9F\x98\x80x", 3, ""},  // a four-byte character does not fit at all
        {"", 0, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Utf8Prefix(c.text, c.max), c.kept) << c.text << " / " << c.max;
}

TEST(SanitizedUtf8, ReplacesEveryByteThatIsNotPartOfACharacter) {
    const std::pair<std::string, std::string> cases[] = {
        {"SEAGATE", "SEAGATE"},
        {"caf\xC3\xA9", "caf\xC3\xA9"},  // valid text stays
        {"ZL2A\xFF"
         "003",
         "ZL2A\xEF\xBF\xBD"
         "003"},                             // a stray byte
        {"\xC3", "\xEF\xBF\xBD"},            // a cut sequence
        {"\xE0\x80\xAF", "\xEF\xBF\xBD"},    // overlong: one replacement
        {"\xED\xA0\x80-", "\xEF\xBF\xBD-"},  // a surrogate
        {"", ""},
    };
    for (const auto& [raw, expected] : cases) {
        EXPECT_EQ(SanitizedUtf8(raw), expected) << raw;
        EXPECT_TRUE(IsValidUtf8(SanitizedUtf8(raw))) << raw;
    }
}

}  // namespace
}  // namespace halvorin
