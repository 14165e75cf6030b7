// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// A SampleView for tests: answers from plain fields, logs every SetPoint in order
// and keeps the last value per point, like the chart would show it.

#include "SampleView.h"
#include "SamplingState.h"

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

struct SetPointCall {
    ChartSeries series;
    int index;
    std::int32_t value;
    friend bool operator==(const SetPointCall&, const SetPointCall&) = default;
};

class RecordingView : public SampleView {
public:
    int mode = int(StatisticsKind::Utilization);
    bool peaks = true;
    bool glide = true;
    /* Runs after each SetPoint is logged: lets a test change the answers mid-tick. */
    std::function<void(RecordingView&, const SetPointCall&)> onSetPoint;

    std::vector<SetPointCall> calls;
    /* Last value per series (Peaks, Glide) and point 0 to 180. */
    std::array<std::array<std::int32_t, WindowPoints>, 2> shown{};
    /* SetPoint calls whose index lay outside 0 to 180. */
    int outOfRange = 0;

    int StatisticsMode() const override { return mode; }
    bool PeaksChecked() const override { return peaks; }
    bool GlideChecked() const override { return glide; }
    void SetPoint(ChartSeries series, int index, std::int32_t value) override {
        calls.push_back({series, index, value});
        if (index < 0 || index >= WindowPoints)
            ++outOfRange;
        else
            shown[series == ChartSeries::Peaks ? 0 : 1][std::size_t(index)] = value;
        if (onSetPoint)
            onSetPoint(*this, calls.back());
    }

    int Count(ChartSeries series) const {
        int n = 0;
        for (const SetPointCall& c : calls)
            n += c.series == series;
        return n;
    }
};
