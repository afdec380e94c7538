// Where a history chart puts its values: the band of values it shows and
// the y of a value in its picture, for one row. A row's chart shows
// `base` ... `base` + 1.2 x `range` (in tenths of the reading's unit) from
// the bottom edge (y = height) to the top edge (y = 0).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace halvorin {

// Chart constants shared by every row.
inline constexpr int kChartWidth = 1081;      // the picture's chart area, in px
inline constexpr int kChartAreaHeight = 121;  // rows of the picture
inline constexpr int kChartSampleStep = 2;    // px per sample
inline constexpr int kChartSamples = 540;     // samples a picture can hold
inline constexpr int kChartGridStep = 20;     // px between grid lines
inline constexpr int kChartLeft = 170;        // chart block position in a sensor row
inline constexpr int kChartTop = 20;

struct ChartGeometry {
    int height = 0;  // px: 120 cooling, 100 temperature and voltage
    int base = 0;    // value at the bottom edge, tenths
    int range = 1;   // tenths; never below 1
    int scale = 1;   // range x 120 / height; never below 1

    // The y of a reading (in the reading's unit) in the picture.
    int Y(int reading) const;
    bool Shows(int reading) const {
        const int y = Y(reading);
        return y >= 0 && y < height;
    }
};

struct SensorLimits {
    // High critical, high warning, low warning, low critical, in the reading's unit.
    std::array<int16_t, 4> thresholds{};
    int16_t nominal = 0;
    uint8_t thresholds_set = 0;  // bit i: thresholds[i] is given (0 is a value)
};

// The thresholds a chart draws as lines: those given, when it draws them.
std::vector<int16_t> ThresholdsShown(const SensorLimits& limits, bool threshold_lines);

// The geometry at build: from the critical band with 10 % margins when
// `from_thresholds` and the band is not empty; else around the nominal value
// (0.76 ... 1.24 x nominal); and when neither gives a band, or a sample
// already lies outside it, from the samples and the thresholds given.
ChartGeometry InitialChartGeometry(int height, bool from_thresholds, const SensorLimits& limits,
                                   std::span<const int16_t> samples);

// The band of the non-zero samples and of `also_shown` (the threshold lines,
// so a reading past its limit is never drawn without the limit) with 10 %
// margins (a flat line gets 200 tenths); the current geometry when there is
// nothing to show.
ChartGeometry RescaledChartGeometry(const ChartGeometry& current, std::span<const int16_t> samples,
                                    std::span<const int16_t> also_shown = {});

// The value of the k-th horizontal grid line from the bottom, in tenths.
int AxisLabelValue(const ChartGeometry& geometry, int k);

// How much of a chart block (label column + chart area) a row of `row_width`
// shows: all of it when it fits, else the label column and whole 20-px grid
// cells of the chart's newest part; 0 when not even one cell fits.
int VisibleChartWidth(int row_width, int label_column);

}  // namespace halvorin
