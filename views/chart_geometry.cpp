#include "views/chart_geometry.h"

#include <algorithm>

namespace halvorin {

namespace {

ChartGeometry WithBand(int height, int64_t base, int64_t range) {
    ChartGeometry g;
    g.height = std::max(height, 1);
    g.range = static_cast<int>(std::clamp<int64_t>(range, 1, 1'000'000'000));
    g.base = static_cast<int>(std::clamp<int64_t>(base, -1'000'000'000, 1'000'000'000));
    g.scale = std::max(1, static_cast<int>(int64_t(g.range) * 120 / g.height));
    return g;
}

// The band from the critical thresholds, 10 % of it as margin on each side.
ChartGeometry FromThresholds(int height, const SensorLimits& limits) {
    const int64_t high_critical = limits.thresholds[0];
    const int64_t low_critical = limits.thresholds[3];
    const int64_t range = (high_critical - low_critical) * 10;
    return WithBand(height, (low_critical - range / 100) * 10, range);
}

// 0.76 ... 1.24 x the nominal value.
ChartGeometry FromNominal(int height, int64_t nominal) {
    return WithBand(height, nominal * 760 / 100, nominal * 400 / 100);
}

}  // namespace

int ChartGeometry::Y(int reading) const {
    return static_cast<int>((int64_t(base) - 10 * int64_t(reading)) * 100 / scale + height);
}

ChartGeometry InitialChartGeometry(int height, bool from_thresholds, const SensorLimits& limits,
                                   std::span<const int16_t> samples) {
    ChartGeometry g;
    // An empty or inverted critical band says nothing about where values lie.
    if (from_thresholds && limits.thresholds[0] > limits.thresholds[3]) {
        g = FromThresholds(height, limits);
    } else if (limits.nominal > 0) {
        g = FromNominal(height, limits.nominal);
    } else {
        return RescaledChartGeometry(WithBand(height, 0, 1), samples,
                                     ThresholdsShown(limits, from_thresholds));
    }
    // A history that already left the band would start off the picture.
    for (int16_t s : samples) {
        if (s != 0 && !g.Shows(s))
            return RescaledChartGeometry(g, samples, ThresholdsShown(limits, from_thresholds));
    }
    return g;
}

std::vector<int16_t> ThresholdsShown(const SensorLimits& limits, bool threshold_lines) {
    std::vector<int16_t> shown;
    if (!threshold_lines) return shown;
    for (size_t i = 0; i < limits.thresholds.size(); ++i)
        if (limits.thresholds_set & (1u << i)) shown.push_back(limits.thresholds[i]);
    return shown;
}

ChartGeometry RescaledChartGeometry(const ChartGeometry& current, std::span<const int16_t> samples,
                                    std::span<const int16_t> also_shown) {
    int low = 0, high = 0;
    bool any = false;
    auto include = [&](int value) {
        low = any ? std::min(low, value) : value;
        high = any ? std::max(high, value) : value;
        any = true;
    };
    bool any_sample = false;
    for (int16_t s : samples) {
        if (s == 0) continue;
        include(s);
        any_sample = true;
    }
    if (!any_sample) return current;
    for (int16_t t : also_shown)
        include(t);
    int64_t range = (int64_t(high) - low) * 10;
    if (range == 0) range = 200;
    return WithBand(current.height, (low - range / 100) * 10, range);
}

int AxisLabelValue(const ChartGeometry& geometry, int k) {
    const int lines = std::max(1, geometry.height / kChartGridStep);
    return static_cast<int>(geometry.base +
                            int64_t(k) * (int64_t(geometry.range) * 120 / 100 / lines));
}

int VisibleChartWidth(int row_width, int label_column) {
    if (row_width - label_column - 5 >= kChartWidth + kChartLeft) return kChartWidth + label_column;
    const int cells = (row_width - label_column - 175) / kChartGridStep;
    if (cells <= 0) return 0;
    return label_column + cells * kChartGridStep + 1;
}

}  // namespace halvorin
