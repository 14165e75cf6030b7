#pragma once
// The live chart: two lines of 181 points, vertical axes that follow the
// points, and zooming by dragging a rectangle with the left mouse button.

#include "SamplingState.h"

#include <QChartView>
#include <QList>
#include <QPointF>
#include <QTimer>

#include <array>
#include <cstdint>
#include <optional>

class QLineSeries;
class QRubberBand;
class QValueAxis;

class LiveChartView : public QChartView {
    Q_OBJECT
public:
    /* Drags must go further than this, each way, to zoom or restore. */
    static constexpr int ZoomThreshold = 16;

    explicit LiveChartView(QWidget* parent = nullptr);

    /* Sets the y value of one point; the line follows at the next flush. */
    void SetPoint(ChartSeries series, int index, std::int32_t value);
    /* Hands changed points to their lines and rescales the axes, once for all
       points set since the last flush. Runs by itself before the next paint;
       waits while the chart is out of sight on a shown window. */
    void Flush();

    /* Removes every point of both lines. */
    void ClearPoints();
    /* Gives both lines 181 points at y = 0. */
    void FillZeros();
    /* The blue title: one line, or two. */
    void SetTitleLines(const QString& first, const std::optional<QString>& second);
    /* Names the two lines, in their series and in the legend. */
    void SetSeriesTitles(const QString& first, const QString& second);
    /* Lets the right axis follow the points again; a zoomed left axis stays zoomed. */
    void SetRightAxisAutomatic();

    QLineSeries* Series1() const { return m_series[0]; }
    QLineSeries* Series2() const { return m_series[1]; }
    QValueAxis* LeftAxis() const { return m_left; }
    QValueAxis* RightAxis() const { return m_right; }
    QValueAxis* BottomAxis() const { return m_bottom; }
    bool IsZoomed() const { return m_zoomed; }

protected:
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    struct Line {
        std::array<std::int32_t, WindowPoints> values{};
        // Two point lists take turns: the line shares one while the other is
        // written, so handing over points never copies or allocates.
        std::array<QList<QPointF>, 2> lists;
        int spare = 0;
        bool dirty = false;
        // The values the line shows, once it has points.
        std::optional<std::array<std::int32_t, WindowPoints>> shown;
    };
    using Range = std::pair<std::int32_t, std::int32_t>;

    void setUpChart();
    /* Writes a changed line's values into its spare point list; false when nothing changed. */
    bool prepareHandOver(Line& line);
    Range dataRange() const;
    void rescale(Range range, bool force);
    void zoomTo(const QRect& dragged);
    void unzoom();

    std::array<QLineSeries*, 2> m_series{};
    std::array<Line, 2> m_lines;
    QValueAxis* m_left = nullptr;
    QValueAxis* m_right = nullptr;
    QValueAxis* m_bottom = nullptr;
    QTimer m_flushTimer;

    // Range last given to each vertical axis, so that an unchanged range costs nothing.
    std::optional<Range> m_leftRange, m_rightRange;
    bool m_zoomed = false;
    bool m_rightAutomatic = true;

    QRubberBand* m_rubberBand = nullptr;
    std::optional<QPoint> m_dragStart;
};
