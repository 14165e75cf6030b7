// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ChartLines.h"

#include <QPainter>

#include <array>
#include <optional>
#include <utility>

namespace {

// Liang-Barsky: the part of the segment from a to b inside `bounds`, if any.
std::optional<std::pair<QPointF, QPointF>> Cut(QPointF a, QPointF b, const QRectF& bounds) {
    const double dx = b.x() - a.x(), dy = b.y() - a.y();
    const std::array<double, 4> p{-dx, dx, -dy, dy};
    const std::array<double, 4> q{a.x() - bounds.left(), bounds.right() - a.x(),
                                  a.y() - bounds.top(), bounds.bottom() - a.y()};
    double enter = 0, leave = 1;
    for (std::size_t i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0)
                return std::nullopt; // parallel to this edge and outside it
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0)
            enter = std::max(enter, t);
        else
            leave = std::min(leave, t);
    }
    if (enter > leave)
        return std::nullopt;
    return std::pair{a + enter * QPointF(dx, dy), a + leave * QPointF(dx, dy)};
}

} // namespace

void DrawLineWithin(QPainter& painter, std::span<const QPointF> points, const QRectF& bounds) {
    if (points.size() < 2)
        return;
    // Runs of connected pieces are drawn as one polyline, without doubled pixels at
    // their joins; the common case, a line wholly inside, is a single run.
    constexpr std::size_t Capacity = 512;
    std::array<QPointF, Capacity> run;
    std::size_t length = 0;
    const auto flush = [&] {
        if (length >= 2)
            painter.drawPolyline(run.data(), int(length));
        length = 0;
    };
    for (std::size_t i = 1; i < points.size(); ++i) {
        const auto piece = Cut(points[i - 1], points[i], bounds);
        if (!piece) {
            flush();
            continue;
        }
        if (length == 0 || run[length - 1] != piece->first || length == Capacity) {
            flush();
            run[length++] = piece->first;
        }
        run[length++] = piece->second;
    }
    flush();
}
