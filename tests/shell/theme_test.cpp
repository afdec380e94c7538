#include <QFontMetrics>
#include <QRegularExpression>
#include <map>
#include <set>

#include "base/string_table.h"
#include "shell/theme/font_face.h"
#include "shell/theme/image_list.h"
#include "shell/theme/shared_look.h"
#include "shell/theme/theme_color.h"
#include "shell/theme/theme_font.h"
#include "tests/support/desktop_fixture.h"

namespace halvorin {
namespace {

using test::DesktopTest;

// ---- COLOR ----------------------------------------------------------------

TEST_F(DesktopTest, ColoursAreTheFourBytesReadLittleEndian) {
    EXPECT_EQ(LoadThemeColor(406, 0), Rgb(0xC5, 0xC5, 0xC5));
    EXPECT_EQ(LoadThemeColor(417, 0), Rgb(0x43, 0xA0, 0xAE));
    EXPECT_EQ(LoadThemeColor(644, 0), Rgb(0x67, 0x0B, 0x00));
    // 441 keeps its fourth byte: the value goes to the painter unchanged.
    EXPECT_EQ(LoadThemeColor(441, 0), 0x06566666u);
    EXPECT_EQ(ToQColor(LoadThemeColor(441, 0)), QColor(0x66, 0x66, 0x56));
    // Ids without a user in the drawing code are still in the table.
    for (int id : {497, 512, 631, 754})
        EXPECT_NE(LoadThemeColor(id, 0x01020304), 0x01020304u) << id;
}

TEST_F(DesktopTest, AMissingOrBrokenColourGivesTheCallSitesDefault) {
    EXPECT_EQ(LoadThemeColor(433, Rgb(1, 2, 3)), Rgb(1, 2, 3));  // never defined
    const QString root = UseResourceCopy();
    RemoveTableEntry("theme/COLOR.tsv", 647);
    EXPECT_EQ(LoadThemeColor(647, Rgb(0, 0, 0)), Rgb(0, 0, 0));
    EXPECT_EQ(LoadThemeColor(646, Rgb(0, 0, 0)), Rgb(255, 255, 255));  // the others stay

    QFile table(root + "/theme/COLOR.tsv");
    ASSERT_TRUE(table.open(QIODevice::Append));
    table.write("900\t12 34\n901\tZZ 00 00 00\n902\t100 00 00 00 00\n");
    table.close();
    for (int id : {900, 901, 902})
        EXPECT_EQ(LoadThemeColor(id, Rgb(9, 9, 9)), Rgb(9, 9, 9)) << id;

    QFile::remove(root + "/theme/COLOR.tsv");
    EXPECT_EQ(LoadThemeColor(406, Rgb(7, 7, 7)), Rgb(7, 7, 7));
}

// ---- FONTSIZE -------------------------------------------------------------

TEST_F(DesktopTest, FontSizesComeFromTheLanguagesCopy) {
    FontDescription font = LoadThemeFont(878, FontSize(22, 700), "Roboto Regular");
    EXPECT_EQ(font.height, 15);
    EXPECT_EQ(font.weight, 700);
    EXPECT_EQ(font.face, "Roboto Regular");
    EXPECT_EQ(font.quality, kClearTypeQuality);
    EXPECT_EQ(LoadThemeFont(985, 0, "Arial").height, 13);

    UseLanguage("zh_TW");
    EXPECT_EQ(LoadThemeFont(878, 0, "Arial").height, 16);
    EXPECT_EQ(LoadThemeFont(985, 0, "Arial").height, 14);
    EXPECT_EQ(LoadThemeFont(985, 0, "Arial").weight, 400);
    EXPECT_EQ(LoadThemeFont(993, 0, "Arial").height, 15);  // the same in both copies

    UseLanguage("zh_CN");  // Simplified Chinese uses the English copy
    EXPECT_EQ(LoadThemeFont(878, 0, "Arial").height, 15);
}

TEST_F(DesktopTest, AMissingFontSizeFallsBackToEnglishThenToTheDefault) {
    UseResourceCopy();
    UseLanguage("zh_TW");
    RemoveTableEntry("theme/FONTSIZE.zh_TW.tsv", 878);
    EXPECT_EQ(LoadThemeFont(878, 0, "Arial").height, 15);  // the English copy's
    RemoveTableEntry("theme/FONTSIZE.en.tsv", 878);
    const FontDescription font = LoadThemeFont(878, FontSize(22, 700), "Arial");
    EXPECT_EQ(font.height, 22);
    EXPECT_EQ(font.weight, 700);
}

TEST_F(DesktopTest, AThemeFontHasTheCellHeightItAskedFor) {
    for (int height : {12, 15, 16, 28, 36}) {
        const QFont font = CreateThemeFont({height, 700, "Roboto Regular", kClearTypeQuality});
        EXPECT_NEAR(QFontMetrics(font).height(), height, 1) << height;
        EXPECT_EQ(font.weight(), QFont::Bold);
        EXPECT_EQ(font.family(), "Roboto");
    }
    EXPECT_EQ(CreateThemeFont({15, 0, "Arial", 0}).weight(), QFont::Normal);
}

// ---- font face ------------------------------------------------------------

TEST_F(DesktopTest, TheFontFaceIsTheFirstPreferredFaceInstalled) {
    auto only = [](std::set<QString> installed) {
        return [installed](const QString& face) { return installed.contains(face); };
    };
    EXPECT_EQ(ChooseFontFace(only({"Roboto Regular", "Segoe UI", "MS Serif"})), "Roboto Regular");
    EXPECT_EQ(ChooseFontFace(only({"Segoe UI", "MS Serif"})), "Segoe UI");
    EXPECT_EQ(ChooseFontFace(only({"MS Serif"})), "MS Serif");
    EXPECT_EQ(ChooseFontFace(only({})), "Arial");

    // Ids 26 and 27 have no text and are skipped, never asked for.
    std::vector<QString> asked;
    ChooseFontFace([&](const QString& face) {
        asked.push_back(face);
        return false;
    });
    EXPECT_EQ(asked, (std::vector<QString>{"Roboto Regular", "Segoe UI", "MS Serif"}));
}

TEST_F(DesktopTest, AFaceIsAFamilyOrAFamilyAndOneOfItsStyles) {
    // fonts-roboto is one of the program's dependencies.
    EXPECT_TRUE(FaceIsInstalledOnThisSystem("Roboto"));
    EXPECT_TRUE(FaceIsInstalledOnThisSystem("Roboto Regular"));
    EXPECT_FALSE(FaceIsInstalledOnThisSystem("Roboto Wobbly"));
    EXPECT_FALSE(FaceIsInstalledOnThisSystem("No Such Face"));
    EXPECT_EQ(FontFamilyOfFace("Roboto Regular"), "Roboto");
    EXPECT_EQ(FontFamilyOfFace("Roboto"), "Roboto");
}

// ---- string tables --------------------------------------------------------

std::map<int, QString> Table(const QString& language) {
    const auto bytes = ReadResource("strings/" + language + ".tsv");
    EXPECT_TRUE(bytes.has_value()) << language.toStdString();
    if (!bytes) return {};
    const ParsedStringTable parsed = ParseStringTable(bytes->toStdString());
    EXPECT_EQ(parsed.bad_lines, 0) << language.toStdString();
    std::map<int, QString> table;
    for (const auto& [id, text] : parsed.texts)
        table[id] = QString::fromStdU16String(text);
    return table;
}

// The conversions by the argument each takes: "%2$s (%1$s)" and "%s of %s"
// both give {0: s, 1: s}, so a translation may reorder the arguments but
// neither drop one nor read it as another kind.
std::map<int, QString> Conversions(const QString& text) {
    static const QRegularExpression conversion("%(?:([1-9][0-9]*)\\$)?([-0-9.]*[sdiuxXc%])");
    std::map<int, QString> found;
    int next = 0;
    for (auto it = conversion.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        if (match.captured(2) == "%") continue;
        const int index = match.captured(1).isEmpty() ? next++ : match.captured(1).toInt() - 1;
        found[index] = match.captured(2);
    }
    return found;
}

TEST_F(DesktopTest, EveryLanguageHasEveryTextWithTheSameConversions) {
    const auto english = Table("en");
    ASSERT_GT(english.size(), 160u);
    EXPECT_EQ(SupportedLanguages().size(), 9);
    for (const QString& language : SupportedLanguages()) {
        const auto table = Table(language);
        for (const auto& [id, text] : english) {
            ASSERT_TRUE(table.contains(id)) << language.toStdString() << " lacks " << id;
            EXPECT_EQ(Conversions(table.at(id)), Conversions(text))
                << language.toStdString() << " " << id;
            EXPECT_FALSE(table.at(id).isEmpty()) << language.toStdString() << " " << id;
        }
        EXPECT_EQ(table.size(), english.size()) << language.toStdString();
    }
}

TEST_F(DesktopTest, TheUsersLanguagePicksTheTable) {
    EXPECT_EQ(LanguageForLocale(QLocale("zh_TW")), "zh_TW");
    EXPECT_EQ(LanguageForLocale(
                  QLocale(QLocale::Chinese, QLocale::TraditionalChineseScript, QLocale::HongKong)),
              "zh_TW");
    EXPECT_EQ(LanguageForLocale(QLocale("zh_CN")), "zh_CN");
    EXPECT_EQ(LanguageForLocale(QLocale("de_AT")), "de");
    EXPECT_EQ(LanguageForLocale(QLocale("ja_JP")), "ja");
    EXPECT_EQ(LanguageForLocale(QLocale("pt_BR")), "en");  // no table: English

    UseLanguage("de_DE");
    EXPECT_EQ(LoadQString(127), "Möchten Sie wirklich in den Agent-Modus wechseln?");
    EXPECT_EQ(LoadQString(57344), "Zent Halvorin");
    EXPECT_EQ(LoadQString(26), "");  // no text in any table
    UseLanguage("en");
    EXPECT_EQ(LoadQString(127), "Are you sure to change to agent mode?");
    EXPECT_EQ(LoadQString(250), "\nQuick jump to an element type");
}

TEST_F(DesktopTest, AnIdMissingFromALanguageFallsBackToEnglish) {
    UseResourceCopy();
    RemoveTableEntry("strings/fr.tsv", 153);
    UseLanguage("fr_FR");
    EXPECT_EQ(LoadQString(153), "Add");
    EXPECT_EQ(LoadQString(84), "Appliquer");
}

// ---- bitmaps and image lists ----------------------------------------------

TEST_F(DesktopTest, EveryBitmapHasItsExactSize) {
    const std::map<int, QSize> sizes = {
        {292, {128, 32}}, {293, {352, 32}}, {294, {352, 32}}, {295, {128, 32}}, {296, {192, 32}},
        {297, {256, 32}}, {298, {44, 20}},  {299, {48, 24}},  {300, {44, 20}},  {301, {32, 32}},
        {302, {24, 72}},  {303, {24, 72}},  {304, {16, 16}},  {305, {18, 18}},  {306, {122, 34}},
        {307, {28, 14}},  {308, {32, 16}},  {309, {32, 16}},  {310, {24, 24}},  {311, {260, 237}},
        {312, {56, 14}},  {314, {14, 14}},  {315, {120, 24}}, {316, {120, 30}}, {317, {24, 24}},
        {318, {48, 24}},
    };
    for (const auto& [id, size] : sizes) {
        const auto image = LoadBitmapResource(id);
        ASSERT_TRUE(image.has_value()) << id;
        EXPECT_EQ(image->size(), size) << id;
        // Drawn again for screens scaled by 150 % and 200 %.
        EXPECT_EQ(LoadBitmapResource(id, "@1.5x").value_or(QImage()).size(),
                  (QSizeF(size) * 1.5).toSize())
            << id;
        EXPECT_EQ(LoadBitmapResource(id, "@2x").value_or(QImage()).size(), size * 2) << id;
        // A picture, not a blank: some pixel is drawn.
        bool drawn = false;
        for (int y = 0; y < image->height() && !drawn; ++y)
            for (int x = 0; x < image->width() && !drawn; ++x)
                drawn = qAlpha(image->pixel(x, y)) > 0;
        EXPECT_TRUE(drawn) << id;
    }
    EXPECT_FALSE(LoadBitmapResource(313).has_value());
}

TEST_F(DesktopTest, TheSevenSharedImageListsHaveTheirCells) {
    const auto lists = BuildSharedImageLists();
    const int widths[] = {32, 32, 32, 32, 60, 24, 30};
    const int counts[] = {8, 6, 4, 4, 2, 1, 4};
    const int heights[] = {32, 32, 32, 32, 24, 24, 30};
    for (size_t i = 0; i < lists.size(); ++i) {
        EXPECT_EQ(lists[i].cell_width(), widths[i]) << "list " << i + 1;
        EXPECT_EQ(lists[i].count(), counts[i]) << "list " << i + 1;
        EXPECT_EQ(lists[i].cell_height(), heights[i]) << "list " << i + 1;
    }
    UseResourceCopy();
    QFile::remove(ResourceRoot() + "/bitmaps/316.png");
    EXPECT_TRUE(BuildSharedImageLists()[6].empty());  // missing: empty, not a failure
}

// On a screen scaled by 1.5 or 2 an icon is the larger drawing's cell,
// pixel for pixel, not the plain one stretched.
TEST_F(DesktopTest, AnImageListDrawsTheDrawingThatSuitsTheScreensScale) {
    const auto list = CImageList::FromBitmap(293, 32, QColor(0, 255, 0));
    ASSERT_TRUE(list.has_value());
    for (const auto& [ratio, suffix] :
         {std::pair(1.0, ""), std::pair(1.5, "@1.5x"), std::pair(2.0, "@2x")}) {
        const int side = qRound(32 * ratio);
        QImage screen(side, side, QImage::Format_ARGB32_Premultiplied);
        screen.setDevicePixelRatio(ratio);
        screen.fill(Qt::transparent);
        {
            QPainter painter(&screen);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            list->Draw(painter, 3, QPoint(0, 0));
        }
        const QImage drawing = LoadBitmapResource(293, suffix).value_or(QImage());
        ASSERT_FALSE(drawing.isNull()) << suffix;
        const QImage cell = drawing.copy(3 * side, 0, side, side)
                                .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        screen.setDevicePixelRatio(1);
        EXPECT_EQ(screen, cell) << "at " << ratio;
        EXPECT_EQ(list->Icon(3).availableSizes().size(), 3u);
    }
}

TEST_F(DesktopTest, TheKeyColourIsTransparentAndCellsAreCutInOrder) {
    QImage strip(6, 2, QImage::Format_RGB32);
    strip.fill(QColor(0, 255, 0));
    strip.setPixel(4, 1, qRgb(10, 20, 30));
    const CImageList list(strip, 3, QColor(0, 255, 0));
    ASSERT_EQ(list.count(), 2);
    EXPECT_EQ(qAlpha(list.Image(0).pixel(0, 0)), 0);
    EXPECT_EQ(list.Image(1).pixel(1, 1), qRgb(10, 20, 30));
    EXPECT_TRUE(list.Image(2).isNull());
    EXPECT_TRUE(list.Image(-1).isNull());
    // White is the key of list 6: its white corners are see-through.
    EXPECT_EQ(qAlpha(BuildSharedImageLists()[5].Image(0).pixel(0, 0)), 0);
}

}  // namespace
}  // namespace halvorin
