// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// One frame of the chart apart from its two lines: where the title, the legend,
// the axis labels and the plotting area go for a given size, texts and ranges,
// and the painting of those parts.

#include "ChartColours.h"
#include "ChartScale.h"
#include "ChartZoom.h"

#include <QColor>
#include <QFont>
#include <QPen>
#include <QRect>
#include <QString>

#include <array>

class QFontMetricsF;
class QPainter;

/* The chart's two lines, in the order of its legend. */
enum class ChartLine { Series1, Series2 };

/* The chart's fixed look. */
namespace ChartLook {
/* Title, legend and axis labels. */
QFont TextFont();
} // namespace ChartLook

/* The texts a frame shows. */
struct ChartTexts {
    /* The title's lines; the second is shown only when `titleLines` is 2. */
    std::array<QString, 2> title;
    int titleLines = 1;
    /* The legend's entries, for Series1 and Series2. */
    std::array<QString, 2> series;
};

/* The ticks of one axis with the label of each. */
struct AxisLabels {
    Ticks ticks;
    std::array<QString, MaxTicks> text;
    std::array<double, MaxTicks> width{};
};

class ChartFrame {
public:
    /* Lays the frame out inside `inside` (the widget within its bevel) and formats
       the labels; a zoomed axis may take fractional steps. Costs strings: call it only when the
       size, the texts or the ranges change. */
    void Layout(const QRect& inside, const QFont& font, const ChartTexts& texts,
                const ShownRanges& ranges, bool hasPoints, const ZoomedAxes& zoomed);
    /* Paints title, legend, grid, axes and labels as laid out: those parts that reach
       into `dirty`, which the painter is expected to be clipped to. */
    void Paint(QPainter& painter, const QFont& font, const ChartTexts& texts,
               const ChartColours& colours, const QRect& dirty) const;
    /* What a change of the shown ranges alone repaints when it leaves the plotting area
       where it is: the plotting area with its grid, and the right axis's marks and labels. */
    QRect RangeArea() const;

    /* The plotting area. */
    QRect Plot() const { return m_plot; }
    /* Values to pixels of the plotting area, for each axis. */
    const FrameMaps& Maps() const { return m_maps; }
    /* The value labels at the right, and the index labels below. */
    const AxisLabels& RightLabels() const { return m_right; }
    const AxisLabels& BottomLabels() const { return m_bottom; }
    /* The left axis's ticks: no labels, but the grid. */
    const Ticks& LeftTicks() const { return m_leftTicks; }
    QRectF TitleArea() const { return m_title; }
    QRectF LegendArea() const { return m_legend; }

private:
    QRectF m_title, m_legend;
    QRect m_plot;
    FrameMaps m_maps;
    AxisLabels m_right, m_bottom;
    Ticks m_leftTicks;
    double m_lineHeight = 0;
};
