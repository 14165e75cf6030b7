// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "SamplingState.h"

#include "LastResult.h"

#include <algorithm>

namespace {

// Sums in unsigned arithmetic so that overflow wraps instead of being undefined;
// the conversion back to signed is modular (C++20).
std::int32_t GlidingAverage(const History& h, int i) {
    const std::uint32_t sum = std::uint32_t(h[i - 3]) + std::uint32_t(h[i - 2]) +
                              std::uint32_t(h[i - 1]) + std::uint32_t(h[i]);
    return std::int32_t(sum) / 4; // truncates towards zero
}

} // namespace

SamplingState::SamplingState(SampleView& view, ClientLibrary& client)
    : m_view(view), m_client(client) {}

void SamplingState::SampleTick(const void* Sender) {
    int slot = SampleCount;
    if (SampleCount >= WindowPoints) {
        // Window full: scroll both histories one place left; slot 181 never moves.
        std::copy(PeakHistory.begin() + 1, PeakHistory.begin() + WindowPoints, PeakHistory.begin());
        std::copy(GlideHistory.begin() + 1, GlideHistory.begin() + WindowPoints,
                  GlideHistory.begin());
        slot = WindowPoints - 1;
    }

    getData(Sender, PeakHistory[slot], GlideHistory[slot]);

    // The view's answers may change while we draw, so each point asks again.
    for (int i = 0; i < WindowPoints; ++i) {
        if (m_view.StatisticsMode() == int(StatisticsKind::Utilization) && i > 2)
            GlideHistory[i] = GlidingAverage(PeakHistory, i);
        if (m_view.PeaksChecked())
            m_view.SetPoint(ChartSeries::Peaks, i, PeakHistory[i]);
        if (m_view.GlideChecked())
            m_view.SetPoint(ChartSeries::Glide, i, GlideHistory[i]);
    }

    if (SampleCount < WindowPoints)
        ++SampleCount;
}

void SamplingState::getData(const void* /*Sender*/, std::int32_t& first, std::int32_t& second) {
    first = 0;
    second = 0;
    if (Stopped)
        return;

    switch (m_view.StatisticsMode()) {
    case int(StatisticsKind::Utilization):
        sampleUtilization(first);
        break;
    case int(StatisticsKind::Caching):
        sampleCaching(first, second);
        break;
    default:
        break;
    }
}

void SamplingState::sampleUtilization(std::int32_t& first) {
    const ClientResult result = m_client.GetServerInfoRecord(ConnHandle, m_serverRecord);
    LastResult = std::int32_t(result);
    Stopped = result != 0;
    if (result != 0)
        return;
    LastReading = std::chrono::system_clock::now();
    first = std::int32_t(ReadField32(m_serverRecord, ServerInfoField::Utilization));
}

void SamplingState::sampleCaching(std::int32_t& first, std::int32_t& second) {
    const ClientResult result = m_client.GetCacheInfoRecord(ConnHandle, m_cacheRecord);
    LastResult = std::int32_t(result);
    Stopped = result != 0;
    if (result != 0)
        return;
    // A reading that the check below drops still shows the server answering.
    LastReading = std::chrono::system_clock::now();

    const std::uint32_t requests = ReadField32(m_cacheRecord, CacheInfoField::CacheRequests);
    const std::uint32_t hits = ReadField32(m_cacheRecord, CacheInfoField::CacheHits);
    const std::uint32_t dRequests = requests - PrevRequests;
    const std::uint32_t dHits = hits - PrevHits;

    // More hits than requests is no sample: keep the baselines so that the next
    // accepted sample spans both intervals.
    if (std::int32_t(dHits) > std::int32_t(dRequests))
        return;

    if (PrevRequests != 0)
        first = std::int32_t(dRequests);
    if (PrevHits != 0)
        second = std::int32_t(dHits);
    PrevRequests = requests;
    PrevHits = hits;
}

void SamplingState::ResetSampling() {
    std::fill_n(PeakHistory.begin(), WindowPoints, 0);
    std::fill_n(GlideHistory.begin(), WindowPoints, 0);
    PrevRequests = 0;
    PrevHits = 0;
    LastReading.reset();
    Stopped = false;
}
