// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The live chart: two lines of as many points as its user asks for, over
// vertical axes that follow the points, zoomed by dragging a rectangle with the left mouse button or with the
// keyboard. Setting a point only marks the plotting area for repainting; the
// parts that rarely change are kept in a pixmap and drawn anew only where they do.

#include "ChartFrame.h"
#include "ChartZoom.h"

#include <QFrame>
#include <QImage>
#include <QPixmap>
#include <QPointer>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class QRubberBand;

class LiveChart : public QFrame {
    Q_OBJECT
public:
    explicit LiveChart(QWidget* parent = nullptr);

    /* How many points each line takes when filled, which the bottom axis spans; removes
       the points there are. The only call that allocates. */
    void SetLineLength(int points);
    int LineLength() const { return int(m_values[0].size()); }
    /* Sets the y value of point `index` (0 to LineLength() - 1) of a line and marks the
       chart for repainting if it changed. Ignored while the lines have no points. */
    void SetPoint(ChartLine line, int index, std::int32_t value);
    /* Removes every point of both lines. */
    void ClearPoints();
    /* Gives both lines LineLength() points at y = 0. */
    void FillZeros();
    /* The blue title: one line, or two. Shown as it is, without markup. */
    void SetTitleLines(const QString& first, const std::optional<QString>& second);
    /* Names the two lines in the legend. */
    void SetSeriesTitles(const QString& first, const QString& second);
    /* Lets the right axis follow the points again; a zoomed left axis stays zoomed. */
    void SetRightAxisAutomatic();
    /* Index of the newest sample, which a screen reader is told about; -1 for none. */
    void SetNewestIndex(int index) { m_newest = index; }
    int NewestIndex() const { return m_newest; }
    /* One line shown over the plotting area, and told to screen readers, until it is
       set empty again (as it starts). */
    void SetNotice(const QString& notice);
    QString Notice() const { return m_notice; }

    /* Points per line: 0 or LineLength(). */
    int PointCount() const { return m_pointCount; }
    std::span<const std::int32_t> Points(ChartLine line) const;
    /* The title's lines, joined by a line break. */
    QString TitleText() const;
    QString SeriesTitle(ChartLine line) const;
    /* What the axes show for the points as they are now. */
    ShownRanges Ranges() const;
    bool IsZoomed() const { return m_zoom.IsZoomed(); }
    /* The colours chosen for the current palette. */
    const ChartColours& Colours() const { return m_colours; }
    /* The frame laid out for the current size, texts and ranges. */
    const ChartFrame& Frame();

    /* The chart as shown, without the focus outline, at the screen's density. */
    QImage Image();

    /* For screen readers: the title, and the notice or the lines' newest values with the shown range. */
    QString AccessibleName() const;
    QString AccessibleDescription() const;

    QSize sizeHint() const override { return {400, 240}; }
    QSize minimumSizeHint() const override { return {120, 80}; }

    /* Where the lines may be drawn: the plotting area, or anywhere while zoomed.
       A tick repaints this and, when a range changed, that axis. */
    QRect LinesArea() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // What the laid-out frame and the pixmap were made for; a difference means redoing them.
    struct LayoutKey {
        QSize size;
        ShownRanges ranges;
        bool hasPoints = false;
        ZoomedAxes zoomed;
        int textsVersion = 0;
        friend bool operator==(const LayoutKey&, const LayoutKey&) = default;
    };
    struct PixmapKey {
        LayoutKey layout;
        qreal pixelRatio = 0;
        bool focused = false;
        int styleVersion = 0;
        // Where the layout put the parts that a range change may leave in place.
        QRect plot;
        QRectF legend;
        Ticks bottom;
        friend bool operator==(const PixmapKey&, const PixmapKey&) = default;
    };

    ValueRange dataRange() const;
    void ensureLayout(const ShownRanges& ranges);
    PixmapKey currentPixmapKey() const;
    QRect staleFrameArea() const;
    QRect settle();
    void ensurePixmap();
    // Places the lines on whole device pixels; false where they must be cut at the bevel
    // or the density is fractional.
    bool placeLines();
    void drawLines(QPainter& painter);
    void linesChanged();
    void drawNotice(QPainter& painter) const;
    void changed();
    void textsChanged();
    void paletteChanged();

    std::array<std::vector<std::int32_t>, 2> m_values;
    int m_pointCount = 0;
    // Where the paint puts the lines' pixels, sized with the lines: whole device pixels,
    // or logical ones for a line that a zoom took beyond the bevel, which is cut first.
    std::array<std::vector<QPoint>, 2> m_devicePixels;
    // How many of each line's device pixels the polyline takes, level stretches joined.
    std::array<int, 2> m_placed{};
    std::vector<QPointF> m_pixels;
    int m_newest = -1;
    ChartColours m_colours;
    // Made when the colours change: a pen shares its data, so drawing with these
    // allocates nothing.
    std::array<QPen, 2> m_pens;
    ChartTexts m_texts;
    int m_textsVersion = 0;
    int m_styleVersion = 0;
    ChartZoom m_zoom;
    // Set by a change, cleared by the paint, so that a tick asks for one repaint, not
    // 362; the window's update request then settles whether an axis comes with it.
    bool m_repaintPending = false;
    // The window whose update requests settle a tick's repaint before it is painted.
    QPointer<QWidget> m_watchedWindow;

    ChartFrame m_frame;
    std::optional<LayoutKey> m_layoutKey;
    QPixmap m_pixmap;
    std::optional<PixmapKey> m_pixmapKey;

    QString m_notice;
    // True while Image() draws: a picture for others shows no focus outline.
    bool m_imaging = false;

    QRubberBand* m_rubberBand;
    std::optional<QPoint> m_dragStart;
};
