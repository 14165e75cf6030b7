// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The chart's colours for the palette it is shown in, and the contrast arithmetic
// behind them (as the WCAG define relative luminance and contrast ratio). On a
// light window the design's colours are kept exactly; on a dark one black text
// would be unreadable, so texts take the palette's text colour and the coloured
// parts keep their hue, lightened until they stand out enough.

#include <QColor>

#include <array>

class QPalette;

/* Relative luminance of an sRGB colour: 0 for black, 1 for white. */
double RelativeLuminance(const QColor& colour);
/* Contrast ratio of two colours, from 1 (equal luminance) to 21 (black and white). */
double ContrastRatio(const QColor& a, const QColor& b);
/* `colour` with its hue and saturation at the least lightness that reaches `ratio`
   against `background`; `colour` itself if it does already, white if nothing does. */
QColor LightenedFor(const QColor& colour, const QColor& background, double ratio);

/* The least contrast against the background for texts, and for lines and other graphics. */
inline constexpr double TextContrast = 4.5;
inline constexpr double GraphicsContrast = 3.0;

struct ChartColours {
    QColor background;
    /* Axis labels, legend texts, axes, the legend's box and the focus outline. */
    QColor text;
    QColor title;
    QColor grid;
    /* Series1's and Series2's lines and legend swatches. */
    std::array<QColor, 2> lines;
};

/* The design's colours: black texts, a blue title, a red and a green line. */
ChartColours DesignColours(const QColor& background, const QColor& grid);
/* The colours for a palette: the design's over a light window colour; over a dark
   one (where white would contrast more than black) as described above. */
ChartColours ColoursFor(const QPalette& palette);
