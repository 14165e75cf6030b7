// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The chart's arithmetic without a window: round ticks over ranges from flat to
// the whole 32-bit span, the mapping of values to pixels, and the zoom rules.

#include "ChartColours.h"
#include "ChartScale.h"
#include "ChartZoom.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <ostream>
#include <string>
#include <vector>

namespace {

struct TickCase {
    const char* name;
    ValueRange range;
    double length;
    bool zoomed;
    std::vector<double> expected;
    int decimals;
};

// Test lists name a case by its description, not by its bytes.
void PrintTo(const TickCase& c, std::ostream* out) {
    *out << c.name;
}

std::vector<double> Values(const Ticks& ticks) {
    std::vector<double> out;
    for (int i = 0; i < ticks.count; ++i)
        out.push_back(ticks.At(i));
    return out;
}

// Ticks at least 20 pixels apart.
constexpr double Spacing = 20;

const TickCase TickCases[] = {
    {"flat at zero: one tick at the value", {0, 0}, 200, false, {0}, 0},
    {"flat anywhere", {-2147483648.0, -2147483648.0}, 200, false, {-2147483648.0}, 0},
    {"idle machine: whole steps, not 0.2", {0, 1}, 200, false, {0, 1}, 0},
    {"small integers never get decimals", {0, 7}, 400, false, {0, 1, 2, 3, 4, 5, 6, 7}, 0},
    {"percent", {0, 100}, 100, false, {0, 20, 40, 60, 80, 100}, 0},
    {"odd range starts at a round value", {3, 97}, 200, false, {10, 20, 30, 40, 50, 60, 70, 80, 90}, 0},
    {"negative and mixed", {-5, 80}, 100, false, {0, 20, 40, 60, 80}, 0},
    {"wholly negative", {-930, -70}, 100, false, {-800, -600, -400, -200}, 0},
    {"whole 32-bit span", {-2147483648.0, 2147483647.0}, 200, false,
     {-2e9, -1.5e9, -1e9, -5e8, 0, 5e8, 1e9, 1.5e9, 2e9}, 0},
    {"zero to 2^32", {0, 4294967296.0}, 100, false, {0, 1e9, 2e9, 3e9, 4e9}, 0},
    {"a zoom below a few units shows decimals", {1.3, 2.1}, 100, true, {1.4, 1.6, 1.8, 2.0}, 1},
    {"a deeper zoom needs two", {0.01, 0.09}, 100, true, {0.02, 0.04, 0.06, 0.08}, 2},
    {"a wide zoom keeps whole steps", {0.5, 9.5}, 400, true, {1, 2, 3, 4, 5, 6, 7, 8, 9}, 0},
    {"short axis: at least one tick", {0, 100}, 5, false, {0, 100}, 0},
};

class TickChoice : public testing::TestWithParam<TickCase> {};

TEST_P(TickChoice, RoundAndSpaced) {
    const TickCase& c = GetParam();
    const Ticks ticks = ChooseTicks(c.range, c.length, Spacing, c.zoomed);
    const std::vector<double> values = Values(ticks);
    ASSERT_EQ(values.size(), c.expected.size()) << testing::PrintToString(values);
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_NEAR(values[i], c.expected[i], std::abs(c.expected[i]) * 1e-12 + 1e-12) << i;
    EXPECT_EQ(ticks.decimals, c.decimals);
    if (ticks.count > 1) {
        EXPECT_GE(ticks.step * c.length / c.range.Span(), std::min(Spacing, c.length) - 1e-9)
            << "labels closer than their spacing";
        if (!c.zoomed || c.range.Span() >= FractionalSpan) {
            EXPECT_GE(ticks.step, 1);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Ranges, TickChoice, testing::ValuesIn(TickCases),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& ch : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             }
                             return name;
                         });

TEST(TickChoice, NeverMoreThanTheCap) {
    const Ticks ticks = ChooseTicks({0, 1e6}, 1e6, 1, false);
    EXPECT_LE(ticks.count, MaxTicks);
}

TEST(AxisMap, FlatRangeLiesInTheMiddle) {
    const AxisMap map({42, 42}, 200, 0); // pixel rows grow downwards
    EXPECT_DOUBLE_EQ(map.ToPixel(42), 100);
    EXPECT_DOUBLE_EQ(map.ToValue(100), 42);
    const AxisMap wide({-10, 30}, 0, 400);
    EXPECT_DOUBLE_EQ(wide.ToPixel(-10), 0);
    EXPECT_DOUBLE_EQ(wide.ToPixel(30), 400);
    EXPECT_DOUBLE_EQ(wide.ToValue(wide.ToPixel(7.5)), 7.5);
}

struct DragCase {
    int dx, dy;
    DragOutcome outcome;
};

TEST(Zoom, DragsPastSixteenPixelsEachWay) {
    const DragCase cases[] = {
        {17, 17, DragOutcome::ZoomIn},     {16, 17, DragOutcome::Nothing},
        {17, 16, DragOutcome::Nothing},    {-17, -17, DragOutcome::Restore},
        {-16, -40, DragOutcome::Nothing},  {17, -17, DragOutcome::Restore},
        {17, -16, DragOutcome::Nothing},   {-17, 17, DragOutcome::Restore},
        {-40, 16, DragOutcome::Nothing},   {0, 0, DragOutcome::Nothing},
        {300, 200, DragOutcome::ZoomIn},
    };
    for (const DragCase& c : cases)
        EXPECT_EQ(ClassifyDrag(c.dx, c.dy), c.outcome) << c.dx << "," << c.dy;
}

// A frame 181 pixels wide (one per index) and 100 high over the values 0..100.
FrameMaps Maps(const ShownRanges& shown) {
    return {AxisMap(shown.bottom, 0, 180), AxisMap(shown.left, 100, 0), AxisMap(shown.right, 100, 0)};
}

TEST(Zoom, RectangleFixesEveryAxisUntilRestored) {
    ChartZoom zoom;
    const ValueRange data{0, 100}, indexes{0, 180};
    EXPECT_TRUE((zoom.Resolve(data, indexes) == ShownRanges{indexes, data, data}));

    zoom.ZoomTo({20, 10, 80, 60}, Maps(zoom.Resolve(data, indexes)));
    const ShownRanges once = zoom.Resolve(data, indexes);
    EXPECT_TRUE(zoom.IsZoomed());
    EXPECT_TRUE((once == ShownRanges{{20, 80}, {40, 90}, {40, 90}}));
    // The points move on; a zoomed axis does not follow them.
    EXPECT_TRUE(zoom.Resolve({-50, 500}, indexes) == once);

    zoom.ZoomTo({0, 0, 90, 50}, Maps(once)); // nested: the zoomed maps count
    EXPECT_TRUE((zoom.Resolve(data, indexes).bottom == ValueRange{20, 50}));
    zoom.ZoomIntoMiddle(Maps(zoom.Resolve(data, indexes)));
    EXPECT_TRUE((zoom.Resolve(data, indexes).bottom == ValueRange{27.5, 42.5}));

    // Undone after several zooms: the scaling from before the first.
    zoom.Restore();
    EXPECT_FALSE(zoom.IsZoomed());
    EXPECT_TRUE((zoom.Resolve({-3, 7}, indexes) == ShownRanges{indexes, {-3, 7}, {-3, 7}}));
}

TEST(Zoom, RightAxisFollowsPointsAgainAfterReset) {
    ChartZoom zoom;
    zoom.ZoomTo({0, 0, 90, 50}, Maps({{0, 180}, {0, 100}, {0, 100}}));
    zoom.SetRightAutomatic();
    const ShownRanges shown = zoom.Resolve({5, 6}, {0, 180});
    EXPECT_TRUE(zoom.IsZoomed());
    EXPECT_TRUE((shown.left == ValueRange{50, 100}));
    EXPECT_TRUE((shown.right == ValueRange{5, 6}));
}

TEST(Zoom, RefusesSpansTooFineToDraw) {
    ChartZoom zoom;
    FrameMaps maps = Maps({{0, 180}, {0, 100}, {0, 100}});
    for (int i = 0; i < 60; ++i)
        zoom.ZoomIntoMiddle(maps = Maps(zoom.Resolve({0, 100}, {0, 180})));
    const ShownRanges shown = zoom.Resolve({0, 100}, {0, 180});
    EXPECT_GE(shown.left.Span(), ChartZoom::MinSpan);
    EXPECT_GE(shown.bottom.Span(), ChartZoom::MinSpan);

    // A plotting area squeezed to a single pixel maps every drag to infinity.
    ChartZoom squeezed;
    squeezed.ZoomTo({0, 0, 40, 40}, {AxisMap({0, 180}, 5, 5), AxisMap({0, 100}, 5, 5),
                                     AxisMap({0, 100}, 5, 5)});
    EXPECT_FALSE(squeezed.IsZoomed());
}

} // namespace

TEST(ChartColours, ContrastAndLightening) {
    const QColor black(0, 0, 0), white(255, 255, 255), dark(0x35, 0x35, 0x35);
    EXPECT_DOUBLE_EQ(RelativeLuminance(black), 0);
    EXPECT_DOUBLE_EQ(RelativeLuminance(white), 1);
    EXPECT_DOUBLE_EQ(ContrastRatio(black, white), 21);
    EXPECT_DOUBLE_EQ(ContrastRatio(white, black), 21);
    // Figures that contrast checkers give.
    EXPECT_NEAR(ContrastRatio(QColor(0, 128, 0), white), 5.14, 0.005);
    EXPECT_NEAR(ContrastRatio(QColor(0x77, 0x77, 0x77), white), 4.48, 0.005);

    // Already enough: untouched. Too dark: the least lightening that is enough, same hue.
    EXPECT_EQ(LightenedFor(QColor(255, 0, 0), dark, 3), QColor(255, 0, 0));
    const QColor green = LightenedFor(QColor(0, 128, 0), dark, 3);
    EXPECT_GE(ContrastRatio(green, dark), 3);
    EXPECT_LT(ContrastRatio(green.darker(105), dark), 3);
    EXPECT_EQ(green.hue(), 120);
    // Beyond reach (21:1 against mid grey): white, the most there is.
    EXPECT_EQ(LightenedFor(QColor(0, 0, 255), QColor(128, 128, 128), 21), white);
}
