#include "LiveChartView.h"

#include <QGraphicsLayout>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QRubberBand>
#include <QSignalBlocker>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

const QColor PeaksColor(255, 0, 0);
const QColor GlideColor(0, 128, 0);
const QColor TitleColor(0, 0, 255);

QFont ChartFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(8);
    return font;
}

// A tick spacing of 1, 2 or 5 times a power of ten that gives about five ticks.
double NiceStep(double span) {
    const double rough = span / 5;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    const double scaled = rough / power;
    const double nice = scaled < 1.5 ? 1 : scaled < 3.5 ? 2 : scaled < 7.5 ? 5 : 10;
    return nice * power;
}

// An interval that leaves an axis with at most one tick whatever its range.
constexpr double ParkedInterval = 1e18;

// The span an axis shows for values from lo to hi. A range of zero width cannot
// be drawn, so it becomes +-1 around the value, which puts the lines in the
// vertical middle.
std::pair<double, double> AxisSpan(double lo, double hi) {
    return lo == hi ? std::pair{lo - 1, hi + 1} : std::pair{lo, hi};
}

// Ticks at round numbers within [lo, hi]; a flat range gets a single tick and
// label, at the value.
void ShowRange(QValueAxis* axis, double lo, double hi) {
    const bool flat = lo == hi;
    const double interval = flat ? 4 : NiceStep(hi - lo);
    const double anchor = flat ? lo : 0;
    const auto [from, to] = AxisSpan(lo, hi);
    // The axis lays itself out after every change, and a wide range with a
    // narrow interval would mean hundreds of thousands of ticks: change the two
    // in the order in which neither step asks for more ticks than the end result.
    if (interval >= axis->tickInterval()) {
        axis->setTickInterval(interval);
        axis->setTickAnchor(anchor);
        axis->setRange(from, to);
    } else {
        axis->setRange(from, to);
        axis->setTickAnchor(anchor);
        axis->setTickInterval(interval);
    }
}

// The whole window of points, labelled every 30 so that both ends carry a label.
void ShowIndexRange(QValueAxis* axis) {
    axis->setTickInterval(ParkedInterval);
    axis->setRange(0, WindowPoints - 1);
    axis->setTickAnchor(0);
    axis->setTickInterval(30);
}

QValueAxis* MakeAxis(bool labelled) {
    auto* axis = new QValueAxis;
    axis->setTickInterval(ParkedInterval);
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setLabelFormat(QStringLiteral("%g"));
    axis->setLabelsFont(ChartFont());
    axis->setLabelsBrush(Qt::black);
    axis->setLabelsVisible(labelled);
    return axis;
}

} // namespace

LiveChartView::LiveChartView(QWidget* parent) : QChartView(parent) {
    setUpChart();
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(0);
    connect(&m_flushTimer, &QTimer::timeout, this, &LiveChartView::Flush);
}

void LiveChartView::setUpChart() {
    auto* chart = new QChart;
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setBackgroundRoundness(0);
    chart->setDropShadowEnabled(false);
    chart->setBackgroundBrush(palette().window());
    chart->setPlotAreaBackgroundVisible(false);
    chart->setTitleFont(ChartFont());
    chart->setTitleBrush(TitleColor);
    chart->setTitle(QStringLiteral("Title goes here"));
    // Give the plotting area what the default margins would waste.
    chart->setMargins(QMargins(2, 2, 2, 2));
    chart->layout()->setContentsMargins(0, 0, 0, 0);
    chart->legend()->setAlignment(Qt::AlignRight);
    chart->legend()->setFont(ChartFont());
    chart->legend()->setLabelColor(Qt::black);

    m_bottom = MakeAxis(true);
    m_left = MakeAxis(false);
    m_right = MakeAxis(true);
    m_right->setGridLineVisible(false); // the left axis draws the grid
    chart->addAxis(m_bottom, Qt::AlignBottom);
    chart->addAxis(m_left, Qt::AlignLeft);
    // The right axis belongs to no line: it mirrors the left one while both are
    // automatic, and can follow the points on its own while the left one is zoomed.
    chart->addAxis(m_right, Qt::AlignRight);
    ShowIndexRange(m_bottom);

    const QString titles[] = {QStringLiteral("Packets Out"), QStringLiteral("Packets In")};
    const QColor colors[] = {PeaksColor, GlideColor};
    for (int i = 0; i < 2; ++i) {
        auto* series = new QLineSeries;
        series->setObjectName(QStringLiteral("Series%1").arg(i + 1));
        series->setName(titles[i]);
        // Qt clips lines to the plotting area; a thin pen keeps lines at the
        // extremes visible.
        series->setPen(QPen(colors[i], 1));
        series->setPointsVisible(false);
        series->setPointLabelsVisible(false);
        chart->addSeries(series);
        series->attachAxis(m_bottom);
        series->attachAxis(m_left);
        m_series[std::size_t(i)] = series;

        Line& line = m_lines[std::size_t(i)];
        for (QList<QPointF>& list : line.lists) {
            list.reserve(WindowPoints);
            for (int x = 0; x < WindowPoints; ++x)
                list.append(QPointF(x, 0));
        }
    }
    // setChart() only releases the chart the base class made for itself: delete it here.
    const std::unique_ptr<QChart> initialChart(QChartView::chart());
    setChart(chart);
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Sunken);
    rescale(dataRange(), true);
}

void LiveChartView::SetPoint(ChartSeries series, int index, std::int32_t value) {
    if (index < 0 || index >= WindowPoints)
        return;
    Line& line = m_lines[series == ChartSeries::Peaks ? 0 : 1];
    line.values[std::size_t(index)] = value;
    if (!line.dirty) {
        line.dirty = true;
        if (!m_flushTimer.isActive())
            m_flushTimer.start();
    }
}

void LiveChartView::Flush() {
    m_flushTimer.stop();
    // While the window shows its other page, laying the lines out is wasted:
    // the points wait, and are handed over when the chart comes into sight.
    if (window()->isVisible() && !isVisible())
        return;
    std::array<bool, 2> moved{};
    for (std::size_t i = 0; i < m_lines.size(); ++i)
        moved[i] = prepareHandOver(m_lines[i]);
    if (!moved[0] && !moved[1])
        return;

    const Range range = dataRange();
    const bool leftAxisMoves =
        !m_zoomed && AxisSpan(range.first, range.second) != std::pair{m_left->min(), m_left->max()};
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        if (!moved[i])
            continue;
        Line& line = m_lines[i];
        // A moving axis lays every line out again from the points it holds, so
        // the hand-over keeps quiet then: each line is laid out once, not twice.
        const QSignalBlocker quiet(leftAxisMoves ? m_series[i] : nullptr);
        m_series[i]->replace(line.lists[std::size_t(line.spare)]);
        line.spare ^= 1;
    }
    rescale(range, false);
}

bool LiveChartView::prepareHandOver(Line& line) {
    if (!line.dirty)
        return false;
    line.dirty = false;
    if (line.shown && *line.shown == line.values)
        return false; // nothing to draw anew: typical of a quiet or suspended server
    line.shown = line.values;
    QList<QPointF>& list = line.lists[std::size_t(line.spare)];
    QPointF* points = list.data(); // unshared: the line let go of it at the last hand-over
    for (int x = 0; x < WindowPoints; ++x)
        points[x].setY(line.values[std::size_t(x)]);
    return true;
}

void LiveChartView::ClearPoints() {
    for (QLineSeries* series : m_series)
        series->clear();
    for (Line& line : m_lines)
        line.shown.reset();
}

void LiveChartView::FillZeros() {
    for (Line& line : m_lines) {
        line.values.fill(0);
        line.dirty = true;
    }
    Flush();
}

void LiveChartView::SetTitleLines(const QString& first, const std::optional<QString>& second) {
    // A chart title shows "\n" as a space; rich text gives two centred lines.
    QString html = QStringLiteral("<center>") + first.toHtmlEscaped();
    if (second)
        html += QStringLiteral("<br>") + second->toHtmlEscaped();
    chart()->setTitle(html + QStringLiteral("</center>"));
}

void LiveChartView::SetSeriesTitles(const QString& first, const QString& second) {
    const QString titles[] = {first, second};
    for (int i = 0; i < 2; ++i) {
        QLineSeries* series = m_series[std::size_t(i)];
        series->setName(titles[i]);
        // The legend does not always notice a renamed series; tell it directly.
        for (QLegendMarker* marker : chart()->legend()->markers(series))
            marker->setLabel(titles[i]);
    }
}

void LiveChartView::SetRightAxisAutomatic() {
    m_rightAutomatic = true;
    rescale(dataRange(), true);
}

LiveChartView::Range LiveChartView::dataRange() const {
    // Both lines count, including one whose check box froze it.
    std::int32_t lo = m_lines[0].values[0];
    std::int32_t hi = lo;
    for (const Line& line : m_lines) {
        const auto [mn, mx] = std::minmax_element(line.values.begin(), line.values.end());
        lo = std::min(lo, *mn);
        hi = std::max(hi, *mx);
    }
    return {lo, hi};
}

void LiveChartView::rescale(Range range, bool force) {
    if (!m_zoomed && (force || m_leftRange != range)) {
        ShowRange(m_left, range.first, range.second);
        m_leftRange = range;
    }
    if (m_rightAutomatic && (force || m_rightRange != range)) {
        ShowRange(m_right, range.first, range.second);
        m_rightRange = range;
    }
}

void LiveChartView::showEvent(QShowEvent* event) {
    QChartView::showEvent(event);
    Flush();
}

void LiveChartView::mousePressEvent(QMouseEvent* event) {
    // The base class is left out on purpose: its rubber band cannot express our
    // zoom rules, and it can touch a null item here.
    if (event->button() != Qt::LeftButton)
        return;
    m_dragStart = event->position().toPoint();
    if (!m_rubberBand)
        m_rubberBand = new QRubberBand(QRubberBand::Rectangle, viewport());
    m_rubberBand->setGeometry(QRect(*m_dragStart, QSize()));
    m_rubberBand->show();
}

void LiveChartView::mouseMoveEvent(QMouseEvent* event) {
    if (m_dragStart && m_rubberBand)
        m_rubberBand->setGeometry(QRect(*m_dragStart, event->position().toPoint()).normalized());
}

void LiveChartView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_dragStart)
        return;
    const QPoint start = *m_dragStart;
    const QPoint end = event->position().toPoint();
    m_dragStart.reset();
    if (m_rubberBand)
        m_rubberBand->hide();

    const int dx = end.x() - start.x();
    const int dy = end.y() - start.y();
    if (std::abs(dx) <= ZoomThreshold || std::abs(dy) <= ZoomThreshold)
        return; // too short to mean anything
    if (dx > 0 && dy > 0)
        zoomTo(QRect(start, end));
    else
        unzoom();
}

void LiveChartView::zoomTo(const QRect& dragged) {
    const QRectF area = chart()->mapFromScene(mapToScene(dragged)).boundingRect();
    chart()->zoomIn(area);
    m_zoomed = true;
    m_rightAutomatic = false;
    // Show the zoomed ranges with ticks that suit them; the right axis shows the left one's.
    const double lo = m_left->min(), hi = m_left->max();
    ShowRange(m_left, lo, hi);
    ShowRange(m_right, lo, hi);
    ShowRange(m_bottom, m_bottom->min(), m_bottom->max());
    m_rightRange.reset();
}

void LiveChartView::unzoom() {
    // The restored ranges may be far wider than the zoomed ones: park the
    // intervals first so that no step lays out a flood of ticks.
    m_left->setTickInterval(ParkedInterval);
    m_bottom->setTickInterval(ParkedInterval);
    chart()->zoomReset();
    m_zoomed = false;
    m_rightAutomatic = true;
    ShowIndexRange(m_bottom);
    rescale(dataRange(), true);
}
