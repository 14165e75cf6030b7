// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The chart's arithmetic, free of any widget: round tick steps for a range of
// values, and the mapping between values and pixels along one axis.

/* A closed range of values along one axis; lo == hi is a flat range. */
struct ValueRange {
    double lo = 0;
    double hi = 0;

    bool Flat() const { return lo == hi; }
    double Span() const { return hi - lo; }
    friend bool operator==(const ValueRange&, const ValueRange&) = default;
};

/* Ticks at first, first + step, ... (count of them); a label needs `decimals` digits after the point. */
struct Ticks {
    double first = 0;
    double step = 0; // 0 when there is a single tick
    int count = 0;
    int decimals = 0;

    /* The value of tick i; a tick near zero is exactly zero, so that no label reads "-0". */
    double At(int i) const;
    friend bool operator==(const Ticks&, const Ticks&) = default;
};

/* The data are whole numbers, so ticks step by at least 1, except on a zoomed axis
   that spans less than this. */
inline constexpr double FractionalSpan = 5;
/* No axis carries more ticks than this, however tall the window. */
inline constexpr int MaxTicks = 64;

/* Round ticks within `range`: steps of 1, 2 or 5 times a power of ten, at least
   `minSpacing` pixels apart over an axis `length` pixels long. A flat range has a
   single tick, at its value. */
Ticks ChooseTicks(ValueRange range, double length, double minSpacing, bool zoomed);

/* Maps the values of a range onto pixels: `lo` onto `from`, `hi` onto `to`. A flat
   range is drawn as its value plus and minus one, so the value lies in the middle. */
class AxisMap {
public:
    AxisMap() = default;
    AxisMap(ValueRange range, double from, double to);

    double ToPixel(double value) const { return m_from + (value - m_lo) * m_scale; }
    double ToValue(double pixel) const { return m_lo + (pixel - m_from) / m_scale; }
    /* The values that the axis's length shows. */
    ValueRange Shown() const { return {m_lo, m_hi}; }

private:
    double m_lo = -1, m_hi = 1;
    double m_from = 0, m_scale = 1;
};
