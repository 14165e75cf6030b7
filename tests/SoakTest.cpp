// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// Weeks of sampling in one run: two million ticks (23 days at one a second;
// fewer under the sanitizers, see CMakeLists.txt)
// across statistic switches, check-box changes, failed requests and the resets
// that follow them. Nothing may be allocated and resident memory must stay put.

#include "CountingAllocator.h"
#include "FixedView.h"
#include "LastResult.h"
#include "SamplingState.h"
#include "StubClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>

#ifndef SOAK_TICKS
#define SOAK_TICKS 2000000
#endif

using CountingAllocator::allocations;
using CountingAllocator::armed;

namespace {

/* Resident memory of this process in KiB, from /proc/self/status; -1 if unreadable. */
long ResidentKiB() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, status) != nullptr)
        if (std::sscanf(line, "VmRSS: %ld kB", &kib) == 1)
            break;
    std::fclose(status);
    return kib;
}

/* Serves pseudo-random utilisation and steadily rising cache counters that start
   just below the 32-bit wrap; every `FailEvery`-th statistics request fails. */
class SoakClient : public StubClient {
public:
    static constexpr long FailEvery = 10000;
    static constexpr ClientResult Failure = 0x8801;

    long requests = 0;
    bool lastFailed = false;
    std::int32_t utilization = 0;
    std::uint32_t cacheRequests = 0xFFF00000;
    std::uint32_t cacheHits = 0xFFE00000;

    ClientResult GetServerInfoRecord(ConnectionHandle, ServerInfoRecord& record) override {
        if (fail())
            return Failure;
        utilization = std::int32_t(next() % 101);
        WriteField32(record, ServerInfoField::Utilization, std::uint32_t(utilization));
        return 0;
    }
    ClientResult GetCacheInfoRecord(ConnectionHandle, CacheInfoRecord& record) override {
        if (fail())
            return Failure;
        const std::uint32_t step = 500 + next() % 1000;
        cacheRequests += step;
        cacheHits += step - step / 8;
        WriteField32(record, CacheInfoField::CacheRequests, cacheRequests);
        WriteField32(record, CacheInfoField::CacheHits, cacheHits);
        return 0;
    }

private:
    bool fail() {
        lastFailed = ++requests % FailEvery == 0;
        return lastFailed;
    }
    std::uint32_t next() {
        m_seed = m_seed * 1664525u + 1013904223u;
        return m_seed >> 8;
    }
    std::uint32_t m_seed = 12345;
};

TEST(Soak, MillionsOfTicksAllocateNothingAndKeepMemoryFlat) {
    constexpr long Ticks = SOAK_TICKS;
    constexpr long Day = 86400;             // each statistic (and none) in turn for a day
    constexpr long ResetAfterFailure = 100; // as a user would pick the server again
    LastResult = 0;
    FixedView view;
    SoakClient client;
    SamplingState state{view, client};

    // The counting functions are the ones in use.
    armed = true;
    ::operator delete(::operator new(16));
    armed = false;
    ASSERT_EQ(allocations.exchange(0), 1);

    long rssAfterWarmUp = 0;
    long failures = 0;
    long resets = 0;
    long wrongSamples = 0;
    long resetAt = -1;
    std::uint32_t baseline = 0; // the cache-request count of the last accepted sample
    const auto start = std::chrono::steady_clock::now();
    armed = true;
    for (long t = 0; t < Ticks; ++t) {
        const int mode = int(t / Day % 3);
        if (mode != view.mode || t == resetAt) {
            view.mode = mode;
            state.ResetSampling();
            baseline = 0;
            ++resets;
        }
        view.peaks = t / 3600 % 7 != 3;
        view.glide = t / 3600 % 11 != 5;

        const long requestsBefore = client.requests;
        const int slot = std::min(state.SampleCount, WindowPoints - 1);
        state.SampleTick(nullptr);

        // The newest point is the client's sample, or 0 while suspended.
        std::int32_t expected = 0;
        if (client.requests != requestsBefore && client.lastFailed) {
            ++failures;
            resetAt = t + ResetAfterFailure;
        } else if (client.requests != requestsBefore && mode == 0) {
            expected = client.utilization;
        } else if (client.requests != requestsBefore) {
            expected = baseline != 0 ? std::int32_t(client.cacheRequests - baseline) : 0;
            baseline = client.cacheRequests;
        }
        wrongSamples += state.PeakHistory[std::size_t(slot)] != expected;

        if (t == 999) {
            armed = false; // reading /proc allocates in the C library
            rssAfterWarmUp = ResidentKiB();
            armed = true;
        }
    }
    armed = false;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long rssAtEnd = ResidentKiB();

    std::printf("soak: %ld ticks (%.1f days at one a second) in %.2f s (%.0f ns/tick), "
                "%ld allocations, "
                "VmRSS %ld KiB after 1,000 ticks and %ld KiB at the end, "
                "%ld failed requests, %ld resets\n",
                Ticks, double(Ticks) / Day, seconds, seconds * 1e9 / double(Ticks),
                allocations.load(), rssAfterWarmUp, rssAtEnd, failures, resets);

    EXPECT_EQ(allocations.load(), 0);
    ASSERT_GT(rssAfterWarmUp, 0);
    EXPECT_LE(rssAtEnd - rssAfterWarmUp, 1024);
    EXPECT_EQ(wrongSamples, 0);
    // The run went through what it set out to: every failure suspended, then a reset.
    EXPECT_GE(failures, Ticks / 2 / SoakClient::FailEvery);
    EXPECT_GE(resets, failures);
    EXPECT_EQ(state.PeakHistory[WindowPoints], 0);
    EXPECT_EQ(state.GlideHistory[WindowPoints], 0);
    EXPECT_EQ(state.SampleCount, WindowPoints);
}

} // namespace
