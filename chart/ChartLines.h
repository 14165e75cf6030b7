// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// Drawing a line of points that may lie far outside the widget: a zoom can put
// them millions of pixels away, where the rasteriser's fixed-point coordinates
// would overflow. The line is cut to a rectangle in floating point first.

#include <QPointF>
#include <QRectF>

#include <span>

class QPainter;

/* Draws the polyline through `points` with the painter's pen, cut to `bounds`. */
void DrawLineWithin(QPainter& painter, std::span<const QPointF> points, const QRectF& bounds);
