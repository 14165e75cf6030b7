// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ChartColours.h"

#include <QPalette>

#include <algorithm>
#include <cmath>

namespace {

double Linear(double channel) {
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

} // namespace

double RelativeLuminance(const QColor& colour) {
    const QColor rgb = colour.toRgb();
    return 0.2126 * Linear(rgb.redF()) + 0.7152 * Linear(rgb.greenF()) + 0.0722 * Linear(rgb.blueF());
}

double ContrastRatio(const QColor& a, const QColor& b) {
    // Named, because std::minmax returns references: to temporaries they would dangle.
    const double first = RelativeLuminance(a), second = RelativeLuminance(b);
    const auto [darker, lighter] = std::minmax(first, second);
    return (lighter + 0.05) / (darker + 0.05);
}

QColor LightenedFor(const QColor& colour, const QColor& background, double ratio) {
    if (ContrastRatio(colour, background) >= ratio)
        return colour;
    const QColor hsl = colour.toHsl();
    // In 8-bit channels, as the colour will be painted.
    const auto at = [&hsl](double lightness) {
        return QColor::fromRgba(
            QColor::fromHslF(hsl.hslHueF(), hsl.hslSaturationF(), float(lightness), hsl.alphaF()).rgba());
    };
    // Luminance grows with lightness at a fixed hue and saturation: search for the least
    // lightness that reaches the ratio, to within what 8-bit channels can tell apart.
    double lo = hsl.lightnessF(), hi = 1;
    if (ContrastRatio(at(hi), background) < ratio)
        return at(hi);
    while (hi - lo > 1.0 / 1024) {
        const double mid = (lo + hi) / 2;
        (ContrastRatio(at(mid), background) >= ratio ? hi : lo) = mid;
    }
    QColor found = at(hi);
    // Rounding to 8 bits may land a hair below the ratio; step up until it does not.
    while (ContrastRatio(found, background) < ratio && hi < 1) {
        hi = std::min(1.0, hi + 1.0 / 512);
        found = at(hi);
    }
    return found;
}

ChartColours DesignColours(const QColor& background, const QColor& grid) {
    return {background, QColor(0, 0, 0), QColor(0, 0, 255), grid,
            {QColor(255, 0, 0), QColor(0, 128, 0)}};
}

ChartColours ColoursFor(const QPalette& palette) {
    const QColor background = palette.color(QPalette::Window);
    ChartColours colours = DesignColours(background, palette.color(QPalette::Midlight));
    if (ContrastRatio(Qt::white, background) <= ContrastRatio(Qt::black, background))
        return colours;
    colours.text = LightenedFor(palette.color(QPalette::WindowText), background, TextContrast);
    colours.title = LightenedFor(colours.title, background, TextContrast);
    for (QColor& line : colours.lines)
        line = LightenedFor(line, background, GraphicsContrast);
    return colours;
}
