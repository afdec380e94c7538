#include "base/string_table.h"

#include <gtest/gtest.h>

namespace halvorin {
namespace {

TEST(StringTable, ParsesIdsTextsAndEscapes) {
    const auto table = ParseStringTable(
        "# comment\n"
        "23\tWelcome.\\n\\nClick.\n"
        "152\t #%d\r\n"
        "\n"
        "250\t\\nQuick jump\n"
        "7\ta \\\\ b\\tc\n");
    EXPECT_EQ(table.bad_lines, 0);
    EXPECT_EQ(table.texts.at(23), u"Welcome.\n\nClick.");
    EXPECT_EQ(table.texts.at(152), u" #%d");  // the leading blank is part of the text
    EXPECT_EQ(table.texts.at(250), u"\nQuick jump");
    EXPECT_EQ(table.texts.at(7), u"a \\ b\tc");
}

TEST(StringTable, CountsLinesThatDoNotParseAndKeepsTheRest) {
    const auto table = ParseStringTable(
        "no tab here\nx1\tnot a number\n-4\tnegative\n"
        "12\t\xff\xfe broken UTF-8\n39\t\xc2\xb0"
        "C");
    EXPECT_EQ(table.bad_lines, 4);
    ASSERT_EQ(table.texts.size(), 1u);
    EXPECT_EQ(table.texts.at(39), u"\u00b0C");
}

TEST(StringTable, TheCompiledInEnglishTableIsComplete) {
    const auto table = ParseStringTable(EnglishStringTableText());
    EXPECT_EQ(table.bad_lines, 0);
    EXPECT_EQ(CoreEnglishString(57344), u"Zent Halvorin");
    EXPECT_EQ(CoreEnglishString(151), u"%s-%02X%02X%02X%02X%02X%02X%02X%02X");
    EXPECT_EQ(CoreEnglishString(20007), u"%s of %s has failed.");
    // Ids 26 and 27 have no text: the font face rule skips them.
    EXPECT_EQ(CoreEnglishString(26), u"");
    EXPECT_EQ(CoreEnglishString(27), u"");
}

TEST(StringTable, AnInstalledLookupReplacesTheEnglishTable) {
    SetStringLookup([](int id) { return id == 30 ? std::u16string(u"ventilateur%s") : u""; });
    EXPECT_EQ(LoadString(30), u"ventilateur%s");
    EXPECT_EQ(LoadString(35), u"");
    SetStringLookup(nullptr);
    EXPECT_EQ(LoadString(35), u"temperature sensor%s");
}

}  // namespace
}  // namespace halvorin
