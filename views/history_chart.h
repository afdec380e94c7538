// The scrolling history chart of a sensor or fan row: a picture of its own,
// transparent where nothing is drawn, laid over the shared grid template.
// Built in full once, then moved on by 2 px per new sample: the picture is
// scrolled, not redrawn, unless a new sample leaves the visible band.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <array>
#include <cstdint>

#include "views/chart_geometry.h"
#include "views/value_format.h"

namespace halvorin {

class CSesElem;

// Pens and fonts every chart of a list shares.
struct ChartStyle {
    QColor line;                   // the readings
    std::array<QColor, 4> limits;  // high critical, high warning, low warning, low critical
    QColor label;                  // axis labels
    QColor grid_background, grid_line, hour_label, row_background;
    QFont axis_font;
    int label_column = 0;  // width of the axis label column
    qreal pixel_ratio = 1;

    int BlockWidth() const { return kChartWidth + label_column; }
};

struct HistoryChart {
    ChartGeometry geometry;
    bool threshold_lines = false;         // the band comes from the thresholds
    std::array<int16_t, 4> thresholds{};  // as the lines were drawn
    uint8_t thresholds_set = 0;           // which of them are given (0 is a value)
    ValueFormat format = ValueFormat::kNone;
    int32_t drawn = 0;       // the element's update count when last drawn
    bool has_point = false;  // where the line continues from
    int last_x = 0, last_y = 0;
    QImage picture;  // block width x 121, transparent background

    // Sizes the picture and draws it in full from the element's history.
    void Build(const ChartStyle& style, const CSesElem& element);
    // Draws the samples taken since the last call; true when the picture changed.
    bool Advance(const ChartStyle& style, const CSesElem& element);

  private:
    void DrawFull(const ChartStyle& style, const CSesElem& element);
    void ScrollLeft(int pixels);
    void DrawThresholds(QPainter& painter, const ChartStyle& style, int from_x, int to_x);
    void DrawSamples(QPainter& painter, const ChartStyle& style, const int16_t* samples, int count,
                     int x);
    void DrawAxisLabels(QPainter& painter, const ChartStyle& style);
};

// The grid behind every chart: chart area, grid lines and hour labels.
QImage BuildChartGrid(const ChartStyle& style);

}  // namespace halvorin
