// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The tick: slot choice, gliding average, and what the view is handed.

#include "LastResult.h"
#include "RecordingView.h"
#include "SamplingState.h"
#include "ScriptedClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <ostream>
#include <vector>

namespace {

constexpr std::int32_t Poison = 0x5A5A5A5A;

class SampleTickTest : public ::testing::Test {
protected:
    void SetUp() override {
        LastResult = 0;
        client.requireOpenHandle = false;
    }

    void Tick(std::int32_t utilisation) {
        client.SetUtilization(utilisation);
        view.calls.clear();
        state.SampleTick(nullptr);
    }

    /* The SetPoint calls a tick owes the view for the given check boxes, from the histories. */
    std::vector<SetPointCall> Redraw(bool peaks, bool glide) const {
        std::vector<SetPointCall> out;
        for (int i = 0; i < WindowPoints; ++i) {
            if (peaks)
                out.push_back({ChartSeries::Peaks, i, state.PeakHistory[std::size_t(i)]});
            if (glide)
                out.push_back({ChartSeries::Glide, i, state.GlideHistory[std::size_t(i)]});
        }
        return out;
    }

    /* Gives the shown part of both histories recognisable values: Peak i, Glide 1000 + i. */
    void FillHistories() {
        for (int i = 0; i < WindowPoints; ++i) {
            state.PeakHistory[std::size_t(i)] = (i * 37) % 201 - 100;
            state.GlideHistory[std::size_t(i)] = 1000 + i;
        }
    }

    ScriptedClient client;
    RecordingView view;
    SamplingState state{view, client};
};

TEST_F(SampleTickTest, FillsLeftToRightThenScrollsAtTheRightEdge) {
    state.PeakHistory[181] = state.GlideHistory[181] = Poison;
    for (int k = 1; k <= 183; ++k) {
        Tick(k);
        // Tick k stores sample k; once full, index 0 holds the oldest sample still shown.
        const int filled = std::min(k, WindowPoints);
        ASSERT_EQ(state.SampleCount, filled) << "tick " << k;
        for (int i = 0; i < WindowPoints; ++i)
            ASSERT_EQ(state.PeakHistory[std::size_t(i)], i < filled ? k - filled + 1 + i : 0)
                << "tick " << k << ", index " << i;
        ASSERT_EQ(view.calls, Redraw(true, true)) << "tick " << k;
    }
    EXPECT_EQ(state.PeakHistory[181], Poison);
    EXPECT_EQ(state.GlideHistory[181], Poison);
}

struct GlideCase {
    std::array<std::int32_t, 4> samples;
    std::int32_t average;
    friend void PrintTo(const GlideCase& c, std::ostream* os) {
        *os << c.samples[0] << ' ' << c.samples[1] << ' ' << c.samples[2] << ' ' << c.samples[3];
    }
};

class GlidingAverageTest : public SampleTickTest,
                           public ::testing::WithParamInterface<GlideCase> {};

TEST_P(GlidingAverageTest, FourthSampleAveragesTheFirstFour) {
    for (std::int32_t sample : GetParam().samples)
        Tick(sample);
    EXPECT_EQ(state.GlideHistory[3], GetParam().average);
    EXPECT_EQ(view.shown[1][3], GetParam().average);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, GlidingAverageTest,
    ::testing::Values(GlideCase{{0, 0, 0, 40}, 10}, GlideCase{{0, 0, 0, 3}, 0},
                      GlideCase{{-5, 0, 0, 0}, -1}, GlideCase{{0, 0, -2, -3}, -1},
                      GlideCase{{1, 2, 3, -7}, 0}, GlideCase{{-4, -4, -4, -4}, -4},
                      // The sum wraps in 32 bits: 4 * INT32_MAX is -4, 4 * INT32_MIN is 0.
                      GlideCase{{INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX}, -1},
                      GlideCase{{INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN}, 0},
                      GlideCase{{INT32_MAX, 1, 0, 0}, INT32_MIN / 4}));

TEST_F(SampleTickTest, AverageCoversTheWholeWindowButNotItsFirstThreePoints) {
    for (int count : {10, WindowPoints}) {
        SCOPED_TRACE(count);
        FillHistories();
        state.SampleCount = count;
        Tick(77);
        const int shift = count == WindowPoints ? 1 : 0;
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(state.GlideHistory[std::size_t(i)], 1000 + i + shift) << i;
        for (int i = 3; i < WindowPoints; ++i) {
            std::int64_t sum = 0;
            for (int j = i - 3; j <= i; ++j)
                sum += state.PeakHistory[std::size_t(j)];
            ASSERT_EQ(state.GlideHistory[std::size_t(i)], sum / 4) << i;
        }
        EXPECT_EQ(view.calls, Redraw(true, true));
    }
}

class OtherModeTickTest : public SampleTickTest, public ::testing::WithParamInterface<int> {};

TEST_P(OtherModeTickTest, SecondLineKeepsWhatGetDataStored) {
    view.mode = GetParam();
    FillHistories();
    state.SampleCount = 10;
    LastResult = 1234;
    Tick(50);
    for (int i = 0; i < WindowPoints; ++i)
        ASSERT_EQ(state.GlideHistory[std::size_t(i)], i == 10 ? 0 : 1000 + i) << i;
    // Caching's first sample after a reset has no baseline; other modes read nothing.
    EXPECT_EQ(state.PeakHistory[10], 0);
    EXPECT_EQ(client.calls.size(), GetParam() == 1 ? 1u : 0u);
    EXPECT_EQ(LastResult, GetParam() == 1 ? 0 : 1234);
    EXPECT_EQ(state.SampleCount, 11);
    EXPECT_EQ(view.calls, Redraw(true, true));
}

INSTANTIATE_TEST_SUITE_P(CachingAndUnknown, OtherModeTickTest, ::testing::Values(1, 2, -1));

class CheckedSeriesTest : public SampleTickTest,
                          public ::testing::WithParamInterface<std::pair<bool, bool>> {};

TEST_P(CheckedSeriesTest, OnlyCheckedLinesAreRedrawnInFull) {
    const auto [peaks, glide] = GetParam();
    view.peaks = peaks;
    view.glide = glide;
    for (int k = 0; k < 5; ++k) {
        Tick(10 * k);
        ASSERT_EQ(view.calls, Redraw(peaks, glide)) << "tick " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(AllCombinations, CheckedSeriesTest,
                         ::testing::Values(std::pair{true, true}, std::pair{true, false},
                                           std::pair{false, true}, std::pair{false, false}));

TEST_F(SampleTickTest, CheckBoxesAreAskedAgainForEveryPoint) {
    view.glide = false;
    view.onSetPoint = [](RecordingView& v, const SetPointCall& c) {
        if (c.series == ChartSeries::Peaks && c.index == 90) {
            v.peaks = false;
            v.glide = true;
        }
    };
    Tick(5);
    ASSERT_EQ(view.Count(ChartSeries::Peaks), 91);
    ASSERT_EQ(view.Count(ChartSeries::Glide), 91);
    EXPECT_EQ(view.calls[90], (SetPointCall{ChartSeries::Peaks, 90, 0}));
    EXPECT_EQ(view.calls[91], (SetPointCall{ChartSeries::Glide, 90, 0}));
    EXPECT_EQ(view.calls.back().index, 180);
}

TEST_F(SampleTickTest, ModeIsAskedAgainForEveryPoint) {
    FillHistories();
    state.SampleCount = 10;
    view.onSetPoint = [](RecordingView& v, const SetPointCall& c) {
        if (c.series == ChartSeries::Glide && c.index == 90)
            v.mode = 2;
    };
    Tick(60);
    EXPECT_EQ(state.PeakHistory[10], 60);
    const std::int32_t recomputed = (state.PeakHistory[87] + state.PeakHistory[88] +
                                     state.PeakHistory[89] + state.PeakHistory[90]) /
                                    4;
    EXPECT_EQ(state.GlideHistory[90], recomputed);
    for (int i = 91; i < WindowPoints; ++i)
        ASSERT_EQ(state.GlideHistory[std::size_t(i)], 1000 + i) << i;
}

class ResetTest : public SampleTickTest, public ::testing::WithParamInterface<int> {};

TEST_P(ResetTest, ZeroesTheWindowAndKeepsTheFillPosition) {
    const int ticksBefore = GetParam();
    for (int k = 1; k <= ticksBefore; ++k)
        Tick(k);
    state.PeakHistory[181] = state.GlideHistory[181] = Poison;
    state.PrevRequests = 7;
    state.PrevHits = 3;
    state.Stopped = true;
    const int count = state.SampleCount;

    state.ResetSampling();
    EXPECT_EQ(state.SampleCount, count);
    EXPECT_EQ(state.PrevRequests, 0u);
    EXPECT_EQ(state.PrevHits, 0u);
    EXPECT_FALSE(state.Stopped);
    for (int i = 0; i < WindowPoints; ++i)
        ASSERT_TRUE(state.PeakHistory[std::size_t(i)] == 0 &&
                    state.GlideHistory[std::size_t(i)] == 0)
            << i;
    EXPECT_EQ(state.PeakHistory[181], Poison);
    EXPECT_EQ(state.GlideHistory[181], Poison);

    // A full window takes the next sample at its right edge, a filling one where it stopped.
    Tick(40);
    const int slot = std::min(ticksBefore, WindowPoints - 1);
    for (int i = 0; i < WindowPoints; ++i)
        ASSERT_EQ(state.PeakHistory[std::size_t(i)], i == slot ? 40 : 0) << i;
    EXPECT_EQ(state.GlideHistory[std::size_t(slot)], 10);
    EXPECT_EQ(view.calls, Redraw(true, true));
}

INSTANTIATE_TEST_SUITE_P(FillingAndFull, ResetTest, ::testing::Values(50, 185));

} // namespace
