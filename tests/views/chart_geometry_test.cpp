#include "views/chart_geometry.h"

#include <gtest/gtest.h>

#include "views/value_format.h"

namespace halvorin {
namespace {

struct FormatCase {
    ValueFormat format;
    int64_t tenths;
    const char16_t* text;
};

TEST(ValueFormat, NegativeValuesKeepTheirSignInFrontForEveryUnit) {
    const FormatCase cases[] = {
        {ValueFormat::kOneDecimal, 523, u"52.3"},
        {ValueFormat::kOneDecimal, -5, u"-0.5"},
        {ValueFormat::kOneDecimal, -125, u"-12.5"},
        {ValueFormat::kOneDecimal, 0, u"0.0"},
        {ValueFormat::kTwoDecimals, 12000, u"12.00"},
        {ValueFormat::kTwoDecimals, 3305, u"3.30"},
        {ValueFormat::kTwoDecimals, -5120, u"-5.12"},
        {ValueFormat::kTwoDecimals, -50, u"-0.05"},
        {ValueFormat::kTwoDecimals, -3, u"0.00"},
        {ValueFormat::kWholeNumber, 60500, u"6050"},
        {ValueFormat::kWholeNumber, -15, u"-1"},
        {ValueFormat::kWholeNumber, -5, u"0"},
        {ValueFormat::kOneDecimal, INT64_MIN / 2, u"-461168601842738790.4"},
    };
    for (const FormatCase& c : cases) {
        EXPECT_EQ(FormatValue(c.format, c.tenths), c.text) << int(c.format) << " " << c.tenths;
    }
}

// The chart's band, as the view computes it from each sensor kind.
TEST(ChartGeometry, EachSensorKindGetsTheBandItsFormulaGives) {
    // Cooling: around the nominal speed, 0.76 ... 1.24 x nominal.
    const ChartGeometry fan = InitialChartGeometry(120, false, {{}, 6000}, {});
    EXPECT_EQ(fan.range, 6000 * 400 / 100);
    EXPECT_EQ(fan.base, 6000 * 760 / 100);
    EXPECT_EQ(fan.scale, fan.range * 120 / 120);
    EXPECT_EQ(fan.Y(4560), 120);  // 0.76 x nominal sits on the bottom edge
    EXPECT_EQ(fan.Y(7440), 0);    // 1.24 x nominal on the top edge

    // Temperature: the critical band 0 ... 70 degrees with 10 % margins.
    const ChartGeometry hot = InitialChartGeometry(100, true, {{70, 60, 5, 0}, 0}, {});
    EXPECT_EQ(hot.range, 700);
    EXPECT_EQ(hot.base, (0 - 700 / 100) * 10);
    EXPECT_EQ(hot.scale, 700 * 120 / 100);
    EXPECT_EQ(hot.Y(0), (hot.base - 0) * 100 / hot.scale + 100);
    EXPECT_EQ(hot.Y(70), (hot.base - 700) * 100 / hot.scale + 100);
    EXPECT_TRUE(hot.Shows(70));
    EXPECT_TRUE(hot.Shows(0));

    // Voltage of an enclosure whose thresholds follow the nominal voltage:
    // charted around the nominal (12.00 V in 10 mV units), no threshold band.
    const ChartGeometry volts =
        InitialChartGeometry(100, false, {{1320, 1260, 1140, 1080}, 1200}, {});
    EXPECT_EQ(volts.range, 1200 * 4);
    EXPECT_EQ(volts.base, 1200 * 760 / 100);
}

TEST(ChartGeometry, AnEmptyOrInvertedThresholdBandFallsBackWithoutDividingByZero) {
    // Thresholds all 0: the nominal value decides.
    const ChartGeometry none = InitialChartGeometry(100, true, {{0, 0, 0, 0}, 500}, {});
    EXPECT_EQ(none.range, 2000);
    // Inverted (high below low): never a negative range.
    const ChartGeometry inverted = InitialChartGeometry(100, true, {{10, 0, 0, 40}, 500}, {});
    EXPECT_GT(inverted.range, 0);
    EXPECT_GT(inverted.scale, 0);
    // No thresholds, no nominal: the samples decide.
    const int16_t samples[] = {0, 40, 50, 0, 45};
    const ChartGeometry from_samples = InitialChartGeometry(100, true, {}, samples);
    EXPECT_EQ(from_samples.range, 100);
    EXPECT_EQ(from_samples.base, (40 - 1) * 10);
    // Nothing at all: a band of 1 tenth, still drawable.
    const ChartGeometry nothing = InitialChartGeometry(100, true, {}, {});
    EXPECT_EQ(nothing.range, 1);
    EXPECT_EQ(nothing.scale, 1);
}

TEST(ChartGeometry, ASampleOutsideTheBandRescalesToTheSamplesWithMargins) {
    const ChartGeometry band = InitialChartGeometry(120, false, {{}, 6000}, {});
    const int16_t slowed[] = {6000, 0, 6010, 3900, 3905};
    EXPECT_FALSE(band.Shows(3900));
    const ChartGeometry rescaled = RescaledChartGeometry(band, slowed);
    EXPECT_EQ(rescaled.range, (6010 - 3900) * 10);
    EXPECT_EQ(rescaled.base, (3900 - rescaled.range / 100) * 10);
    for (int16_t s : slowed) {
        if (s != 0) {
            EXPECT_TRUE(rescaled.Shows(s)) << s;
        }
    }
    // A history that already left the band starts rescaled.
    EXPECT_EQ(InitialChartGeometry(120, false, {{}, 6000}, slowed).range, rescaled.range);
    // A flat line gets 200 tenths; nothing but gaps keeps the band.
    const int16_t flat[] = {47, 47, 47};
    EXPECT_EQ(RescaledChartGeometry(band, flat).range, 200);
    const int16_t gaps[] = {0, 0};
    EXPECT_EQ(RescaledChartGeometry(band, gaps).range, band.range);
}

TEST(ChartGeometry, AxisLabelsAndTheVisiblePartOfANarrowChart) {
    const ChartGeometry hot = InitialChartGeometry(100, true, {{70, 60, 5, 0}, 0}, {});
    EXPECT_EQ(AxisLabelValue(hot, 1), hot.base + 700 * 120 / 100 / 5);
    EXPECT_EQ(AxisLabelValue(hot, 4), hot.base + 4 * (700 * 120 / 100 / 5));

    const int label = 40;
    EXPECT_EQ(VisibleChartWidth(2000, label), kChartWidth + label);
    // Narrow: whole 20-px cells of the newest part, plus the label column.
    const int narrow = VisibleChartWidth(700, label);
    EXPECT_EQ((narrow - label - 1) % kChartGridStep, 0);
    EXPECT_LE(narrow, 700 - 175 + 1);
    EXPECT_EQ(VisibleChartWidth(200, label), 0);
}

}  // namespace
}  // namespace halvorin
