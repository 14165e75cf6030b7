// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// Cost of one tick on a full window with both lines checked: the scroll, the
// request, the gliding average and 362 point updates. Budget: 3 µs per tick.

#include "SamplingState.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

namespace {

/* Answers every statistics request from fixed records; the cache counters
   advance per request so that caching samples are accepted. */
class FixedClient : public ClientLibrary {
public:
    FixedClient() {
        WriteField32(m_server, ServerInfoField::Utilization, 37);
        advanceCache();
    }

    ClientResult ClientInit(void*, void*) override { return 0; }
    ClientResult GetPrimaryConnRef(ConnRef& ref) override {
        ref = 1;
        return 0;
    }
    ClientResult ScanConnRefs(ScanIterator&, ConnRef&) override { return 1; }
    ClientResult GetConnRefInfo(ConnRef, std::uint32_t, std::uint32_t length,
                                unsigned char* buffer) override {
        if (length > 0)
            buffer[0] = 0;
        return 0;
    }
    ClientResult NWCCOpenConnByRef(ConnRef, std::uint32_t, std::uint32_t,
                                   ConnectionHandle& handle) override {
        handle = 1;
        return 0;
    }
    ClientResult CloseConn(ConnectionHandle) override { return 0; }
    ClientResult GetServerInfoRecord(ConnectionHandle, ServerInfoRecord& record) override {
        record = m_server;
        return 0;
    }
    ClientResult GetCacheInfoRecord(ConnectionHandle, CacheInfoRecord& record) override {
        record = m_cache;
        advanceCache();
        return 0;
    }

private:
    void advanceCache() {
        m_requests += 1000;
        m_hits += 900;
        WriteField32(m_cache, CacheInfoField::CacheRequests, m_requests);
        WriteField32(m_cache, CacheInfoField::CacheHits, m_hits);
    }

    ServerInfoRecord m_server{};
    CacheInfoRecord m_cache{};
    std::uint32_t m_requests = 0;
    std::uint32_t m_hits = 0;
};

/* Only stores the points, as the chart's point buffer does. */
class BufferView : public SampleView {
public:
    explicit BufferView(int mode) : m_mode(mode) {}

    int StatisticsMode() const override { return m_mode; }
    bool PeaksChecked() const override { return true; }
    bool GlideChecked() const override { return true; }
    void SetPoint(ChartSeries series, int index, std::int32_t value) override {
        m_points[series == ChartSeries::Peaks ? 0 : 1][std::size_t(index)] = value;
    }

private:
    int m_mode;
    std::array<std::array<std::int32_t, WindowPoints>, 2> m_points{};
};

void TickOnFullWindow(benchmark::State& bench, StatisticsKind kind) {
    FixedClient client;
    BufferView view{int(kind)};
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
