// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// A SampleView that answers from plain fields and keeps the points in fixed arrays, as the
// chart's point buffer does: it never allocates, so that ticks can be counted and soaked.

#include "SampleView.h"
#include "SamplingState.h"

#include <array>
#include <cstdint>

class FixedView : public SampleView {
public:
    int mode = int(StatisticsKind::Utilization);
    bool peaks = true;
    bool glide = true;
    /* Every SetPoint so far. */
    long points = 0;
    /* Last value per series (Peaks, Glide) and point; an index out of range wraps. */
    std::array<std::array<std::int32_t, WindowPoints>, 2> shown{};

    int StatisticsMode() const override { return mode; }
    bool PeaksChecked() const override { return peaks; }
    bool GlideChecked() const override { return glide; }
    void SetPoint(ChartSeries series, int index, std::int32_t value) override {
        shown[series == ChartSeries::Peaks ? 0 : 1][std::size_t(index) % WindowPoints] = value;
        ++points;
    }
};
