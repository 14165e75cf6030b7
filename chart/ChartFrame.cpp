// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ChartFrame.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr double Margin = 4;    // between the bevel and everything inside it
constexpr double Gap = 6;       // between neighbouring parts
constexpr double TickLength = 4;
constexpr double LabelGap = 3;  // between a tick mark and its label
constexpr double LegendPadding = 4;
constexpr double SwatchLength = 16;

// Formats the labels of `ticks` and returns the widest one's width.
double FormatLabels(AxisLabels& labels, const Ticks& ticks, const QFontMetricsF& metrics) {
    labels.ticks = ticks;
    double widest = 0;
    for (int i = 0; i < ticks.count; ++i) {
        QString& text = labels.text[std::size_t(i)];
        text = QString::number(ticks.At(i), 'f', ticks.decimals);
        labels.width[std::size_t(i)] = metrics.horizontalAdvance(text);
        widest = std::max(widest, labels.width[std::size_t(i)]);
    }
    return widest;
}

// Whether a part within `bounds` reaches into `dirty`; antialiased glyphs may spill a
// pixel beyond their advance and cell.
bool Reaches(const QRectF& bounds, const QRect& dirty) {
    return bounds.adjusted(-2, -2, 2, 2).intersects(dirty);
}

} // namespace

namespace ChartLook {

QFont TextFont() {
    // Arial where it exists; elsewhere the font configuration names its metric twin.
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(8);
    return font;
}

} // namespace ChartLook

void ChartFrame::Layout(const QRect& inside, const QFont& font, const ChartTexts& texts,
                        const ShownRanges& ranges, bool hasPoints, const ZoomedAxes& zoomed) {
    const QFontMetricsF metrics(font);
    m_lineHeight = metrics.height();
    const QRectF area = QRectF(inside).adjusted(Margin, Margin, -Margin, -Margin);

    m_title = QRectF(area.left(), area.top(), area.width(), texts.titleLines * m_lineHeight);

    const double legendText =
        std::max(metrics.horizontalAdvance(texts.series[0]), metrics.horizontalAdvance(texts.series[1]));
    const double legendWidth = 2 * LegendPadding + SwatchLength + LabelGap + legendText;
    const double legendHeight = 2 * LegendPadding + 2 * m_lineHeight;

    // Half a label above the top tick and a row of labels below the bottom axis.
    const double top = std::round(m_title.bottom() + Gap + m_lineHeight / 2);
    const double bottom = std::round(area.bottom() - TickLength - LabelGap - m_lineHeight);
    const double height = std::max(bottom - top, 1.0);
    const double rowSpacing = m_lineHeight + 4;

    Ticks rightTicks = ChooseTicks(ranges.right, height, rowSpacing, zoomed.right);
    m_leftTicks = ChooseTicks(ranges.left, height, rowSpacing, zoomed.left);
    if (!hasPoints) // nothing to label or to draw a grid for
        rightTicks.count = m_leftTicks.count = 0;
    const double rightWidth = FormatLabels(m_right, rightTicks, metrics);

    // Room for half of the first index label left of the plotting area.
    const double left = std::round(area.left() + metrics.horizontalAdvance(QStringLiteral("00")) / 2 + 2);
    const double right = std::round(area.right() - legendWidth - Gap - TickLength - LabelGap - rightWidth);
    const double width = std::max(right - left, 1.0);

    // Index labels are spaced by their own width, which depends on the step chosen.
    double columnSpacing = metrics.horizontalAdvance(QStringLiteral("000")) + Gap;
    for (int pass = 0; pass < 2; ++pass) {
        const double widest = FormatLabels(m_bottom, ChooseTicks(ranges.bottom, width, columnSpacing, zoomed.bottom), metrics);
        if (widest + Gap <= columnSpacing)
            break;
        columnSpacing = widest + Gap;
    }

    m_plot = QRect(int(left), int(top), int(width), int(height));
    m_legend = QRectF(area.right() - legendWidth, m_plot.center().y() - legendHeight / 2,
                      legendWidth, legendHeight);
    // Pixel rows and columns run from the first to the last inside the area's edges.
    const double x0 = m_plot.left(), x1 = m_plot.left() + m_plot.width() - 1;
    const double y0 = m_plot.top() + m_plot.height() - 1, y1 = m_plot.top();
    m_maps = {AxisMap(ranges.bottom, x0, x1), AxisMap(ranges.left, y0, y1),
              AxisMap(ranges.right, y0, y1)};
}

QRect ChartFrame::RangeArea() const {
    // The right axis's band runs from the plotting area to just short of the legend, and
    // half a label above and below the plotting area: wherever its labels may go while
    // the plotting area stays where it is.
    const int reach = int(std::ceil(m_lineHeight / 2)) + 2;
    return QRect(QPoint(m_plot.left(), m_plot.top() - reach),
                 QPoint(int(std::floor(m_legend.left())) - 3, m_plot.bottom() + reach));
}

void ChartFrame::Paint(QPainter& painter, const QFont& font, const ChartTexts& texts,
                       const ChartColours& colours, const QRect& dirty) const {
    painter.setFont(font);
    const QRectF plot(m_plot.left(), m_plot.top(), m_plot.width() - 1, m_plot.height() - 1);
    const QPointF half(0.5, 0.5); // 1-pixel lines on pixel centres

    if (m_plot.intersects(dirty)) {
        painter.setPen(QPen(colours.grid, 1));
        for (int i = 0; i < m_leftTicks.count; ++i) {
            const double y = std::round(m_maps.left.ToPixel(m_leftTicks.At(i)));
            painter.drawLine(QPointF(plot.left(), y) + half, QPointF(plot.right(), y) + half);
        }
        for (int i = 0; i < m_bottom.ticks.count; ++i) {
            const double x = std::round(m_maps.bottom.ToPixel(m_bottom.ticks.At(i)));
            painter.drawLine(QPointF(x, plot.top()) + half, QPointF(x, plot.bottom()) + half);
        }
        painter.setPen(QPen(colours.text, 1));
        painter.drawRect(plot.translated(half));
    }

    painter.setPen(QPen(colours.text, 1));
    for (int i = 0; i < m_right.ticks.count; ++i) {
        const double y = std::round(m_maps.right.ToPixel(m_right.ticks.At(i)));
        const QRectF cell(plot.right() + 1 + TickLength + LabelGap, y - m_lineHeight / 2, 0,
                          m_lineHeight);
        if (!Reaches(QRectF(plot.right(), cell.top(), cell.left() - plot.right() +
                            m_right.width[std::size_t(i)], m_lineHeight), dirty))
            continue;
        painter.drawLine(QPointF(plot.right(), y) + half, QPointF(plot.right() + TickLength, y) + half);
        painter.drawText(cell, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip,
                         m_right.text[std::size_t(i)]);
    }
    for (int i = 0; i < m_bottom.ticks.count; ++i) {
        const double x = std::round(m_maps.bottom.ToPixel(m_bottom.ticks.At(i)));
        const QRectF cell(x + 0.5, plot.bottom() + 1 + TickLength + LabelGap, 0, m_lineHeight);
        const double width = m_bottom.width[std::size_t(i)];
        if (!Reaches(QRectF(cell.left() - width / 2, plot.bottom(), width,
                            cell.bottom() - plot.bottom()), dirty))
            continue;
        painter.drawLine(QPointF(x, plot.bottom()) + half, QPointF(x, plot.bottom() + TickLength) + half);
        painter.drawText(cell, Qt::AlignHCenter | Qt::AlignTop | Qt::TextDontClip,
                         m_bottom.text[std::size_t(i)]);
    }

    // The legend: a box with a stroke of each line's colour beside its title.
    if (Reaches(m_legend, dirty)) {
        painter.drawRect(m_legend.adjusted(0, 0, -1, -1).translated(half));
        for (int i = 0; i < 2; ++i) {
            const double y = m_legend.top() + LegendPadding + i * m_lineHeight;
            const double x = m_legend.left() + LegendPadding;
            painter.setPen(QPen(colours.lines[std::size_t(i)], 2));
            painter.drawLine(QPointF(x, y + m_lineHeight / 2), QPointF(x + SwatchLength, y + m_lineHeight / 2));
            painter.setPen(colours.text);
            painter.drawText(QRectF(x + SwatchLength + LabelGap, y, 0, m_lineHeight),
                             Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip,
                             texts.series[std::size_t(i)]);
        }
    }

    if (Reaches(m_title, dirty)) {
        painter.setPen(colours.title);
        for (int i = 0; i < texts.titleLines; ++i) {
            const QRectF row(m_title.left(), m_title.top() + i * m_lineHeight, m_title.width(), m_lineHeight);
            painter.drawText(row, Qt::AlignHCenter | Qt::AlignTop | Qt::TextDontClip,
                             texts.title[std::size_t(i)]);
        }
    }
}
