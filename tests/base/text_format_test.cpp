#include "base/text_format.h"

#include <gtest/gtest.h>

#include "base/utf16.h"

namespace halvorin {
namespace {

TEST(FormatString, ConversionsFlagsAndPositionsAsTranslationsUseThem) {
    const struct {
        std::u16string_view format;
        std::initializer_list<FormatArg> args;
        std::u16string expected;
    } cases[] = {
        {u"%s of %s has failed.", {u"PSU 2", u"JBOD"}, u"PSU 2 of JBOD has failed."},
        {u"%2$s (%1$s)", {u"PSU 2", u"JBOD"}, u"JBOD (PSU 2)"},
        {u"%2$s, %1$s, %2$s", {u"a", u"b"}, u"b, a, b"},
        {u"%1$02X-%2$-3d|", {int64_t(10), int64_t(7)}, u"0A-7  |"},
        {u"%3$s", {u"a", u"b"}, u""},  // no such argument
        {u"%1$d", {u"text"}, u""},     // of the wrong kind
        {u"%0$s", {u"a"}, u"%0$s"},    // there is no argument 0
        {u"100%% %d%%", {int64_t(5)}, u"100% 5%"},
        {u"%-4s|%4s|%.2s", {u"ab", u"cd", u"xyz"}, u"ab  |  cd|xy"},
        {u"%05d %x %u", {int64_t(-42), int64_t(255), int64_t(-1)}, u"-0042 ff 4294967295"},
        {u"%q %s", {u"x"}, u"%q x"},  // unknown conversions stay
        {u"%s and %", {u"x"}, u"x and %"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatString(c.format, c.args), c.expected) << Utf16ToUtf8(c.format);
    // A width no line needs is cut down, not allocated.
    EXPECT_EQ(FormatString(u"%99999999999999999999999s|", {u"x"}).size(), 4097u);
    EXPECT_EQ(FormatString(u"%123456789$s", {u"x"}), u"%123456789$s");  // no such position
}

}  // namespace
}  // namespace halvorin
