#include "views/history_chart.h"

#include <QPainter>
#include <algorithm>
#include <cstring>

#include "enclosure/model/ses_elem.h"

namespace halvorin {

namespace {

QImage TransparentPicture(int width, int height, qreal ratio) {
    QImage image(QSize(width, height) * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    return image;
}

}  // namespace

void HistoryChart::Build(const ChartStyle& style, const CSesElem& element) {
    picture = TransparentPicture(style.BlockWidth(), kChartAreaHeight, style.pixel_ratio);
    thresholds = element.thresholds;
    thresholds_set = element.thresholds_set;
    DrawFull(style, element);
}

void HistoryChart::DrawFull(const ChartStyle& style, const CSesElem& element) {
    std::array<int16_t, kChartSamples> samples;
    int32_t total = 0;
    const int n = static_cast<int>(ReadHistory(element, samples, &total));
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    DrawThresholds(painter, style, 0, kChartWidth);
    has_point = false;
    DrawSamples(painter, style, samples.data(), n, kChartWidth - kChartSampleStep * n - 2);
    DrawAxisLabels(painter, style);
    drawn = total;
}

bool HistoryChart::Advance(const ChartStyle& style, const CSesElem& element) {
    constexpr int kRecent = 16;
    std::array<int16_t, kRecent> recent;
    int32_t total = 0;
    const int n = static_cast<int>(ReadHistory(element, recent, &total));
    const int64_t fresh = int64_t(total) - drawn;
    if (fresh <= 0) {
        drawn = total;  // the history was cleared or restarted: wait for new samples
        return false;
    }
    // More new samples than one read brings back (the view slept, the model
    // was rebuilt): the picture starts over from the whole history.
    if (fresh > n || element.thresholds != thresholds || element.thresholds_set != thresholds_set) {
        thresholds = element.thresholds;
        thresholds_set = element.thresholds_set;
        DrawFull(style, element);
        return true;
    }
    const int count = static_cast<int>(fresh);
    const int16_t* newest = recent.data() + (n - count);
    for (int i = 0; i < count; ++i) {
        if (newest[i] != 0 && !geometry.Shows(newest[i])) {
            std::array<int16_t, kChartSamples> all;
            const size_t k = ReadHistory(element, all, nullptr);
            const SensorLimits limits{thresholds, element.nominal, thresholds_set};
            geometry = RescaledChartGeometry(geometry, std::span(all.data(), k),
                                             ThresholdsShown(limits, threshold_lines));
            DrawFull(style, element);
            return true;
        }
    }
    const int shift = kChartSampleStep * count;
    ScrollLeft(shift);
    QPainter painter(&picture);
    DrawThresholds(painter, style, kChartWidth - shift, kChartWidth);
    last_x -= shift;
    DrawSamples(painter, style, newest, count, kChartWidth - 2 - shift);
    drawn = total;
    return true;
}

void HistoryChart::ScrollLeft(int pixels) {
    const int ratio_pixels = static_cast<int>(pixels * picture.devicePixelRatio());
    const int area = static_cast<int>(kChartWidth * picture.devicePixelRatio());
    const int keep = std::max(0, area - ratio_pixels);
    for (int y = 0; y < picture.height(); ++y) {
        auto* line = reinterpret_cast<uint32_t*>(picture.scanLine(y));
        std::memmove(line, line + (area - keep), size_t(keep) * sizeof(uint32_t));
        std::fill(line + keep, line + area, 0u);
    }
}

void HistoryChart::DrawThresholds(QPainter& painter, const ChartStyle& style, int from_x,
                                  int to_x) {
    if (!threshold_lines) return;
    for (size_t i = 0; i < thresholds.size(); ++i) {
        if (!(thresholds_set & (1u << i))) continue;
        const int y = geometry.Y(thresholds[i]);
        if (y < 0 || y >= kChartAreaHeight) continue;
        const bool solid = i == 0 || i == 3;  // critical limits; warnings are dotted
        painter.setPen(QPen(style.limits[i], 1));
        if (solid) {
            painter.drawLine(from_x, y, to_x - 1, y);
            continue;
        }
        // Every other pixel, on even x, so a scrolled picture continues the pattern.
        for (int x = from_x + (from_x & 1); x < to_x; x += 2)
            painter.drawPoint(x, y);
    }
}

void HistoryChart::DrawSamples(QPainter& painter, const ChartStyle& style, const int16_t* samples,
                               int count, int x) {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(style.line, 1));
    for (int i = 0; i < count; ++i) {
        x += kChartSampleStep;
        if (samples[i] == 0) continue;  // no reading: the line bridges the gap
        const int y = geometry.Y(samples[i]);
        if (has_point) painter.drawLine(last_x, last_y, x, y);
        has_point = true;
        last_x = x;
        last_y = y;
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
}

void HistoryChart::DrawAxisLabels(QPainter& painter, const ChartStyle& style) {
    painter.setFont(style.axis_font);
    painter.setPen(style.label);
    const int height = QFontMetrics(style.axis_font).height();
    const int lines = geometry.height / kChartGridStep;
    for (int k = 1; k < lines; ++k) {
        const int y = geometry.height - kChartGridStep * k;
        const int value = AxisLabelValue(geometry, k);
        const QString text = format == ValueFormat::kNone
                                 ? QString::number(value / 10)
                                 : QString::fromStdU16String(FormatValue(format, value));
        painter.drawText(QRect(kChartWidth + 1, y - height / 2, style.label_column, height),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    }
}

QImage BuildChartGrid(const ChartStyle& style) {
    const int label_height = QFontMetrics(style.axis_font).height();
    QImage grid(QSize(style.BlockWidth(), kChartAreaHeight + label_height) * style.pixel_ratio,
                QImage::Format_ARGB32_Premultiplied);
    grid.setDevicePixelRatio(style.pixel_ratio);
    grid.fill(style.row_background);
    QPainter painter(&grid);
    painter.fillRect(0, 0, kChartWidth, kChartAreaHeight, style.grid_background);
    painter.setPen(QPen(style.grid_line, 1));
    for (int x = kChartWidth - 1; x >= 0; x -= kChartGridStep) {
        painter.drawLine(x, 0, x, kChartAreaHeight - 1);
    }
    for (int y = 0; y < kChartAreaHeight; y += kChartGridStep) {
        painter.drawLine(0, y, kChartWidth - 1, y);
    }
    painter.setFont(style.axis_font);
    painter.setPen(style.hour_label);
    const QFontMetrics metrics(style.axis_font);
    for (int hour = 0, x = kChartWidth - 1; x >= 0; ++hour, x -= 6 * kChartGridStep) {
        const QString label = QString("%1 H").arg(-hour);
        if (x - metrics.horizontalAdvance(label) / 2 < 0) break;  // would be cut at the left edge
        painter.drawText(QRect(x - 50, kChartAreaHeight, 100, label_height),
                         Qt::AlignCenter | Qt::TextSingleLine, label);
    }
    return grid;
}

}  // namespace halvorin
