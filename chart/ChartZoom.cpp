// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ChartZoom.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// The values between two pixels, in ascending order whichever way the axis runs.
ValueRange Between(const AxisMap& map, double a, double b) {
    const double va = map.ToValue(a), vb = map.ToValue(b);
    return {std::min(va, vb), std::max(va, vb)};
}

ValueRange MiddleHalf(ValueRange range) {
    const double quarter = range.Span() / 4;
    return {range.lo + quarter, range.hi - quarter};
}

} // namespace

DragOutcome ClassifyDrag(int dx, int dy) {
    if (std::abs(dx) <= ZoomThreshold || std::abs(dy) <= ZoomThreshold)
        return DragOutcome::Nothing;
    return dx > 0 && dy > 0 ? DragOutcome::ZoomIn : DragOutcome::Restore;
}

ShownRanges ChartZoom::Resolve(ValueRange data, ValueRange indexes) const {
    return {m_bottom.value_or(indexes), m_left.value_or(data), m_right.value_or(data)};
}

void ChartZoom::ZoomTo(const PixelRect& dragged, const FrameMaps& maps) {
    fixAll(Between(maps.bottom, dragged.left, dragged.right),
           Between(maps.left, dragged.top, dragged.bottom),
           Between(maps.right, dragged.top, dragged.bottom));
}

void ChartZoom::ZoomIntoMiddle(const FrameMaps& maps) {
    fixAll(MiddleHalf(maps.bottom.Shown()), MiddleHalf(maps.left.Shown()),
           MiddleHalf(maps.right.Shown()));
}

void ChartZoom::Restore() {
    m_bottom.reset();
    m_left.reset();
    m_right.reset();
}

void ChartZoom::fixAll(ValueRange bottom, ValueRange left, ValueRange right) {
    // Finer than this the values of neighbouring pixels become indistinguishable; a
    // plotting area squeezed to one pixel maps drags to no finite values at all.
    const auto drawable = [](ValueRange r) {
        return std::isfinite(r.lo) && std::isfinite(r.hi) && r.Span() >= MinSpan;
    };
    if (!drawable(bottom) || !drawable(left) || !drawable(right))
        return;
    m_bottom = bottom;
    m_left = left;
    m_right = right;
}
