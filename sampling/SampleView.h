// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The window as the sampling sees it: its settings and the chart's points.

#include <cstdint>

/* The two lines of the chart. */
enum class ChartSeries { Peaks = 1, Glide = 2 };

/* Which statistic is sampled: the selector's item index. */
enum class StatisticsKind { Utilization = 0, Caching = 1 };

class SampleView {
public:
    virtual ~SampleView() = default;

    /* Item index of the statistics selector: 0 utilisation, 1 caching, anything else nothing. */
    virtual int StatisticsMode() const = 0;
    /* True while the first line is to follow the samples. */
    virtual bool PeaksChecked() const = 0;
    /* True while the second line is to follow the samples. */
    virtual bool GlideChecked() const = 0;
    /* Replaces the y value of the existing point `index` (0 to 180) of a line and
       marks the chart for repainting; drawing waits for the next paint. */
    virtual void SetPoint(ChartSeries series, int index, std::int32_t value) = 0;
};
