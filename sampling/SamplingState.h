// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The sampling state: two fixed histories of the chosen statistic, the fill
// position, the cache baselines and the connection that is sampled.

#include "ClientLibrary.h"
#include "SampleView.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>

/* Points per line on the chart (x = 0 to 180). */
inline constexpr int WindowPoints = 181;
/* Slots per history: one more than is shown; the last stays 0. */
inline constexpr int HistorySlots = 182;
/* ConnHandle before any connection has been opened by a selection. */
inline constexpr ConnectionHandle NoConnection = 999;

using History = std::array<std::int32_t, HistorySlots>;

class SamplingState {
public:
    /* Both must outlive the state. */
    SamplingState(SampleView& view, ClientLibrary& client);

    /* One sample: choose the slot (scrolling once full), fetch the sample,
       recompute the gliding average and hand every point of the checked lines to the view. */
    void SampleTick(const void* Sender);

    /* Fetches this tick's sample into `first` and `second` (0 when nothing is read);
       a failed request suspends sampling until ResetSampling. */
    void getData(const void* Sender, std::int32_t& first, std::int32_t& second);

    /* Zeroes the shown slots of both histories, drops the cache baselines and the time of the
       last reading, and resumes sampling. SampleCount is left as it is. */
    void ResetSampling();

    /* Raw utilisation in percent, or cache requests per tick. */
    History PeakHistory{};
    /* Four-sample gliding average of PeakHistory, or cache hits per tick. */
    History GlideHistory{};
    /* Points filled since start-up (0 to 181); below 181 also the next slot. */
    std::int32_t SampleCount = 0;
    /* Cache counters of the last accepted sample; 0 means no baseline yet. */
    std::uint32_t PrevRequests = 0;
    std::uint32_t PrevHits = 0;
    /* Set by a failed statistics request; no request is made until ResetSampling. */
    bool Stopped = false;
    /* When a statistics request last succeeded since the last reset; none before the first. */
    std::optional<std::chrono::system_clock::time_point> LastReading;
    /* The connection that is sampled; written by the connection selection. */
    ConnectionHandle ConnHandle = NoConnection;

private:
    void sampleUtilization(std::int32_t& first);
    void sampleCaching(std::int32_t& first, std::int32_t& second);

    SampleView& m_view;
    ClientLibrary& m_client;
    // Reply storage lives here so that a tick never allocates.
    ServerInfoRecord m_serverRecord{};
    CacheInfoRecord m_cacheRecord{};
};
