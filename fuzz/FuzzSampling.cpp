// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// Drives a sampling state through ticks, resets, mode and check-box changes
// and connection changes, with a view and a client whose every answer comes
// from the input. After every operation it checks what must always hold (the
// spare slot stays 0, the fill position stays in range, a suspended sampling
// asks the client nothing, points stay on the chart) and, after every tick,
// the histories against a model of scroll, sample and gliding average.

#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "LastResult.h"
#include "SamplingState.h"
#include "StubClient.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

/* The gliding average at point i: the sum of points i-3..i in 64 bits, wrapped
   to 32 bits, then divided truncating towards zero. */
std::int32_t ReferenceGlide(const History& peaks, int i) {
    std::int64_t sum = 0;
    for (int k = i - 3; k <= i; ++k)
        sum += peaks[std::size_t(k)];
    return std::int32_t(std::uint32_t(std::uint64_t(sum))) / 4;
}

/* A selector index: the two statistics, and indices that select nothing. */
int PickMode(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 4)) {
    case 1:
        return int(StatisticsKind::Caching);
    case 2:
        return 2;
    case 3:
        return -1;
    case 4:
        return in.ConsumeIntegral<int>();
    default:
        return int(StatisticsKind::Utilization);
    }
}

ConnectionHandle PickHandle(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 1:
        return NoConnection;
    case 2:
        return 0xFFFF;
    case 3:
        return in.ConsumeIntegral<ConnectionHandle>();
    default:
        return 1;
    }
}

/* Answers from fixed fields or, when made volatile, from the input at every query;
   checks every point it is handed. */
class FuzzView : public SampleView {
public:
    explicit FuzzView(FuzzedDataProvider& in) : m_in(in) {}

    /* The state whose histories the points must show. */
    const SamplingState* state = nullptr;

    int mode = int(StatisticsKind::Utilization);
    bool peaks = true;
    bool glide = true;
    bool volatileMode = false;
    bool volatileChecks = false;

    // What the current tick asked and drew.
    mutable int modeQueries = 0;
    mutable int firstMode = 0;
    mutable int lastMode = 0;
    int peakPoints = 0;
    int glidePoints = 0;

    void StartTick() {
        modeQueries = 0;
        peakPoints = 0;
        glidePoints = 0;
        m_lastIndex = 0;
    }

    int StatisticsMode() const override {
        lastMode = volatileMode ? PickMode(m_in) : mode;
        if (modeQueries++ == 0)
            firstMode = lastMode;
        return lastMode;
    }
    bool PeaksChecked() const override { return volatileChecks ? m_in.ConsumeBool() : peaks; }
    bool GlideChecked() const override { return volatileChecks ? m_in.ConsumeBool() : glide; }

    void SetPoint(ChartSeries series, int index, std::int32_t value) override {
        FUZZ_CHECK(series == ChartSeries::Peaks || series == ChartSeries::Glide);
        FUZZ_CHECK(index >= 0 && index < WindowPoints);
        FUZZ_CHECK(index >= m_lastIndex); // left to right, each point once per line
        m_lastIndex = index;
        const bool isPeaks = series == ChartSeries::Peaks;
        const History& history = isPeaks ? state->PeakHistory : state->GlideHistory;
        FUZZ_CHECK(value == history[std::size_t(index)]);
        // The mode was last asked for this very point.
        if (!isPeaks && lastMode == int(StatisticsKind::Utilization) && index > 2)
            FUZZ_CHECK(value == ReferenceGlide(state->PeakHistory, index));
        ++(isPeaks ? peakPoints : glidePoints);
    }

private:
    FuzzedDataProvider& m_in;
    int m_lastIndex = 0;
};

/* Serves statistics from the input and remembers its last answer; any other
   operation reaches the stub, and is a finding: sampling never starts, scans or opens. */
class FuzzClient : public StubClient {
public:
    explicit FuzzClient(FuzzedDataProvider& in) : m_in(in) {}

    struct Answer {
        bool cache = false;
        ConnectionHandle handle = 0;
        ClientResult result = 0;
        std::uint32_t utilization = 0;
        std::uint32_t requests = 0;
        std::uint32_t hits = 0;
    };
    int requests = 0;
    Answer last;

    ClientResult GetServerInfoRecord(ConnectionHandle handle, ServerInfoRecord& record) override {
        ++requests;
        last = {false, handle, PickResult(m_in), PickWord(m_in), 0, 0};
        // Every byte but the field is noise, on success and failure alike.
        record.fill(std::byte{m_in.ConsumeIntegral<std::uint8_t>()});
        WriteField32(record, ServerInfoField::Utilization, last.utilization);
        return last.result;
    }

    ClientResult GetCacheInfoRecord(ConnectionHandle handle, CacheInfoRecord& record) override {
        ++requests;
        const ClientResult result = PickResult(m_in);
        switch (m_in.ConsumeIntegralInRange(0, 3)) {
        case 1: // more hits than requests
            m_requests += m_in.ConsumeIntegral<std::uint16_t>();
            m_hits += PickWord(m_in);
            break;
        case 2:
            m_requests = PickWord(m_in);
            m_hits = PickWord(m_in);
            break;
        case 3: // a restarted server
            m_requests = 0;
            m_hits = 0;
            break;
        default: {
            const std::uint32_t step = 1u + m_in.ConsumeIntegral<std::uint16_t>();
            m_requests += step;
            m_hits += std::min<std::uint32_t>(step, m_in.ConsumeIntegral<std::uint16_t>());
            break;
        }
        }
        last = {true, handle, result, 0, m_requests, m_hits};
        record.fill(std::byte{m_in.ConsumeIntegral<std::uint8_t>()});
        WriteField32(record, CacheInfoField::CacheRequests, m_requests);
        WriteField32(record, CacheInfoField::CacheHits, m_hits);
        return result;
    }

private:
    FuzzedDataProvider& m_in;
    std::uint32_t m_requests = 0;
    std::uint32_t m_hits = 0;
};

void CheckAlways(const SamplingState& state) {
    FUZZ_CHECK(state.PeakHistory[WindowPoints] == 0);
    FUZZ_CHECK(state.GlideHistory[WindowPoints] == 0);
    FUZZ_CHECK(state.SampleCount >= 0 && state.SampleCount <= WindowPoints);
}

struct Expected {
    std::int32_t first = 0;
    std::int32_t second = 0;
    std::uint32_t prevRequests = 0;
    std::uint32_t prevHits = 0;
    bool stopped = false;
    std::int32_t lastResult = 0;
};

/* The sample that the tick should have taken, given what the client answered. */
Expected ModelSample(const SamplingState& before, std::int32_t lastResult, int requests,
                     const FuzzClient::Answer& a) {
    Expected e{0, 0, before.PrevRequests, before.PrevHits, before.Stopped, lastResult};
    if (requests == 0)
        return e;
    e.lastResult = std::int32_t(a.result);
    e.stopped = a.result != 0;
    if (a.result != 0)
        return e;
    if (!a.cache) {
        e.first = std::int32_t(a.utilization);
        return e;
    }
    const std::uint32_t dRequests = a.requests - before.PrevRequests;
    const std::uint32_t dHits = a.hits - before.PrevHits;
    // More hits than requests is no sample, and the baselines stay.
    if (std::int32_t(dHits) > std::int32_t(dRequests))
        return e;
    e.first = before.PrevRequests != 0 ? std::int32_t(dRequests) : 0;
    e.second = before.PrevHits != 0 ? std::int32_t(dHits) : 0;
    e.prevRequests = a.requests;
    e.prevHits = a.hits;
    return e;
}

void CheckedTick(SamplingState& state, FuzzView& view, FuzzClient& client) {
    const SamplingState before = state;
    const std::int32_t lastResultBefore = LastResult;
    const int requestsBefore = client.requests;
    view.StartTick();
    state.SampleTick(nullptr);
    const int requests = client.requests - requestsBefore;

    FUZZ_CHECK(state.SampleCount == std::min(before.SampleCount + 1, WindowPoints));
    FUZZ_CHECK(state.ConnHandle == before.ConnHandle);
    FUZZ_CHECK(requests <= 1);
    FUZZ_CHECK(view.modeQueries > 0);
    if (before.Stopped)
        FUZZ_CHECK(requests == 0);
    else if (requests == 0)
        FUZZ_CHECK(view.firstMode != int(StatisticsKind::Utilization) &&
                   view.firstMode != int(StatisticsKind::Caching));
    if (requests == 1) {
        FUZZ_CHECK(client.last.handle == state.ConnHandle);
        FUZZ_CHECK(view.firstMode ==
                   int(client.last.cache ? StatisticsKind::Caching : StatisticsKind::Utilization));
    }

    const Expected e = ModelSample(before, lastResultBefore, requests, client.last);
    FUZZ_CHECK(state.Stopped == e.stopped);
    FUZZ_CHECK(state.PrevRequests == e.prevRequests && state.PrevHits == e.prevHits);
    FUZZ_CHECK(LastResult == e.lastResult);

    const bool full = before.SampleCount >= WindowPoints;
    const std::size_t slot = full ? WindowPoints - 1 : std::size_t(before.SampleCount);
    History peaks = before.PeakHistory;
    History glide = before.GlideHistory;
    if (full) {
        std::copy(peaks.begin() + 1, peaks.begin() + WindowPoints, peaks.begin());
        std::copy(glide.begin() + 1, glide.begin() + WindowPoints, glide.begin());
    }
    peaks[slot] = e.first;
    glide[slot] = e.second;
    FUZZ_CHECK(state.PeakHistory == peaks);
    // With answers that change mid-tick only the points themselves can be checked.
    if (!view.volatileMode) {
        if (view.mode == int(StatisticsKind::Utilization))
            for (int i = 3; i < WindowPoints; ++i)
                glide[std::size_t(i)] = ReferenceGlide(peaks, i);
        FUZZ_CHECK(state.GlideHistory == glide);
    }
    if (!view.volatileChecks) {
        FUZZ_CHECK(view.peakPoints == (view.peaks ? WindowPoints : 0));
        FUZZ_CHECK(view.glidePoints == (view.glide ? WindowPoints : 0));
    }
}

void CheckedReset(SamplingState& state, const FuzzClient& client) {
    const std::int32_t count = state.SampleCount;
    const int requests = client.requests;
    state.ResetSampling();
    for (int i = 0; i < WindowPoints; ++i)
        FUZZ_CHECK(state.PeakHistory[std::size_t(i)] == 0 &&
                   state.GlideHistory[std::size_t(i)] == 0);
    FUZZ_CHECK(!state.Stopped);
    FUZZ_CHECK(state.PrevRequests == 0 && state.PrevHits == 0);
    FUZZ_CHECK(state.SampleCount == count);
    FUZZ_CHECK(client.requests == requests);
}

/* Any reachable state: a fill position and histories of arithmetic runs that
   reach the ends of the 32-bit range, so that sums overflow. */
void Prefill(SamplingState& state, FuzzedDataProvider& in) {
    state.SampleCount = in.ConsumeIntegralInRange(0, WindowPoints);
    std::uint32_t peak = PickWord(in);
    std::uint32_t glide = PickWord(in);
    const std::uint32_t peakStep = PickWord(in);
    const std::uint32_t glideStep = PickWord(in);
    for (std::size_t i = 0; i < WindowPoints; ++i) {
        state.PeakHistory[i] = std::int32_t(peak += peakStep);
        state.GlideHistory[i] = std::int32_t(glide += glideStep);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    LastResult = 0;
    FuzzClient client(in);
    FuzzView view(in);
    SamplingState state(view, client);
    view.state = &state;

    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 8)) {
        case 2: {
            // Several ticks at once: with Prefill, a full and scrolling window is near.
            const int ticks = in.ConsumeIntegralInRange(1, 16);
            for (int k = 0; k < ticks; ++k)
                CheckedTick(state, view, client);
            break;
        }
        case 3:
            CheckedReset(state, client);
            break;
        case 4:
            view.mode = PickMode(in);
            view.volatileMode = in.ConsumeIntegralInRange(0, 3) == 3;
            break;
        case 5:
            view.peaks = in.ConsumeBool();
            view.glide = in.ConsumeBool();
            view.volatileChecks = in.ConsumeIntegralInRange(0, 3) == 3;
            break;
        case 6:
            state.ConnHandle = PickHandle(in);
            break;
        case 7:
            Prefill(state, in);
            break;
        default:
            CheckedTick(state, view, client);
            break;
        }
        CheckAlways(state);
        FUZZ_CHECK(client.StubCalls() == 0);
    }
    return 0;
}
