// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ChartScale.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// The smallest 1, 2 or 5 times a power of ten that is at least `rough`, with the
// number of decimals it takes to write its multiples.
std::pair<double, int> RoundStepAtLeast(double rough) {
    int exponent = int(std::floor(std::log10(rough)));
    double power = std::pow(10.0, exponent);
    for (;;) {
        for (const double mantissa : {1.0, 2.0, 5.0}) {
            // A hair of tolerance, so that a rough step of exactly 0.2 is not taken for more.
            if (mantissa * power >= rough * (1 - 1e-12))
                return {mantissa * power, std::max(0, -exponent)};
        }
        ++exponent;
        power *= 10;
    }
}

} // namespace

Ticks ChooseTicks(ValueRange range, double length, double minSpacing, bool zoomed) {
    if (range.Flat() || !std::isfinite(range.Span()) || range.Span() < 0)
        return {range.lo, 0, 1, 0};

    const double span = range.Span();
    const int fitting = std::clamp(int(length / std::max(minSpacing, 1.0)), 1, MaxTicks - 1);
    double rough = span / fitting;
    if (!zoomed || span >= FractionalSpan)
        rough = std::max(rough, 1.0);
    auto [step, decimals] = RoundStepAtLeast(rough);

    // Ticks at whole multiples of the step, computed by index so that errors do not add up.
    const double tolerance = step * 1e-9;
    const double firstIndex = std::ceil((range.lo - tolerance) / step);
    const double lastIndex = std::floor((range.hi + tolerance) / step);
    const int count = int(std::clamp(lastIndex - firstIndex + 1, 1.0, double(MaxTicks)));
    return {firstIndex * step, step, count, decimals};
}

double Ticks::At(int i) const {
    const double value = first + i * step;
    return std::abs(value) < step * 1e-9 ? 0 : value;
}

AxisMap::AxisMap(ValueRange range, double from, double to)
    : m_lo(range.Flat() ? range.lo - 1 : range.lo), m_hi(range.Flat() ? range.hi + 1 : range.hi),
      m_from(from), m_scale((to - from) / (m_hi - m_lo)) {}
