// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// Cost of one tick on a full window with both lines checked: the scroll, the
// request, the gliding average and 362 point updates. Budget: 3 µs per tick.

#include "FixedView.h"
#include "SamplingState.h"
#include "StubClient.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

/* The stub's 37 %; its cache counters advance per request so that caching samples
   are accepted. */
class FixedClient : public StubClient {
public:
    FixedClient() { SetUtilization(37); }
    ClientResult GetCacheInfoRecord(ConnectionHandle handle, CacheInfoRecord& record) override {
        m_requests += 1000;
        m_hits += 900;
        SetCacheCounters(m_requests, m_hits);
        return StubClient::GetCacheInfoRecord(handle, record);
    }

private:
    std::uint32_t m_requests = 0;
    std::uint32_t m_hits = 0;
};

void TickOnFullWindow(benchmark::State& bench, StatisticsKind kind) {
    FixedClient client;
    FixedView view;
    view.mode = int(kind);
    SamplingState state{view, client};
    state.SampleCount = WindowPoints;
    for (auto _ : bench) {
        state.SampleTick(nullptr);
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(state.GlideHistory);
}

void BM_UtilisationTick(benchmark::State& bench) {
    TickOnFullWindow(bench, StatisticsKind::Utilization);
}
void BM_CachingTick(benchmark::State& bench) {
    TickOnFullWindow(bench, StatisticsKind::Caching);
}

} // namespace

BENCHMARK(BM_UtilisationTick);
BENCHMARK(BM_CachingTick);
