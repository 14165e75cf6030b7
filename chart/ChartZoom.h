// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// Which ranges the chart's axes show: each follows the points until a zoom fixes
// it, and the rules that turn a drag of the mouse into a zoom or its undoing.

#include "ChartScale.h"

#include <optional>

/* What releasing the left button after a drag means. */
enum class DragOutcome { Nothing, ZoomIn, Restore };

/* Drags must go further than this, in pixels, each way, to mean anything. */
inline constexpr int ZoomThreshold = 16;

/* A drag that went dx pixels right and dy pixels down: more than the threshold
   each way right and down zooms in; more than it each way otherwise restores. */
DragOutcome ClassifyDrag(int dx, int dy);

/* The ranges the three drawn axes show in one frame. */
struct ShownRanges {
    ValueRange bottom;
    ValueRange left;  // the scale the lines are drawn on
    ValueRange right; // the scale the value labels show
    friend bool operator==(const ShownRanges&, const ShownRanges&) = default;
};

/* Which of the axes a zoom has fixed: those show fractional labels on a short span. */
struct ZoomedAxes {
    bool bottom = false, left = false, right = false;
    friend bool operator==(const ZoomedAxes&, const ZoomedAxes&) = default;
};

/* A rectangle of the plotting area in pixels, left < right and top < bottom. */
struct PixelRect {
    double left, top, right, bottom;
};

/* The maps of one frame, from values to the pixels of the plotting area. */
struct FrameMaps {
    AxisMap bottom, left, right;
};

/* The zoom state: an axis with no fixed range follows the points (the bottom one
   shows every index). Zooms never nest: restoring returns to the scaling from
   before the first zoom. */
class ChartZoom {
public:
    /* The smallest span a zoom may leave on an axis; finer zooms are refused. */
    static constexpr double MinSpan = 0.01;

    /* What the axes show when the points span `data` and the index runs over `indexes`. */
    ShownRanges Resolve(ValueRange data, ValueRange indexes) const;

    /* Fixes every axis to what the rectangle covers on the maps of the frame it was dragged on. */
    void ZoomTo(const PixelRect& dragged, const FrameMaps& maps);
    /* Fixes every axis to the middle half of what it shows now. */
    void ZoomIntoMiddle(const FrameMaps& maps);
    /* Lets every axis follow the points again. */
    void Restore();
    /* Lets the right axis follow the points; a zoomed left axis stays zoomed. */
    void SetRightAutomatic() { m_right.reset(); }

    /* True from a zoom until it is undone. */
    bool IsZoomed() const { return m_left.has_value(); }
    ZoomedAxes Zoomed() const {
        return {m_bottom.has_value(), m_left.has_value(), m_right.has_value()};
    }

private:
    void fixAll(ValueRange bottom, ValueRange left, ValueRange right);

    std::optional<ValueRange> m_bottom, m_left, m_right;
};
