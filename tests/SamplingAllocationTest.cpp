// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// Proves that ticking never allocates: counts allocations while the sampling runs.

#include "CountingAllocator.h"
#include "FixedView.h"
#include "LastResult.h"
#include "SamplingState.h"
#include "ScriptedClient.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <new>

using CountingAllocator::allocations;
using CountingAllocator::armed;

namespace {

TEST(SamplingAllocation, TicksInEveryModeAllocateNothing) {
    LastResult = 0;
    ScriptedClient client;
    client.requireOpenHandle = false;
    FixedView view;
    SamplingState state{view, client};
    constexpr int Ticks = 3000;

    // The counting functions are the ones in use.
    armed = true;
    ::operator delete(::operator new(16));
    armed = false;
    ASSERT_EQ(allocations.exchange(0), 1);

    armed = true;
    armed = true;
    for (int k = 0; k < Ticks; ++k) {
        client.SetUtilization(k % 101);
        state.SampleTick(nullptr);
    }
    state.ResetSampling();
    view.mode = 1;
    for (std::uint32_t k = 1; k <= Ticks; ++k) {
        client.SetCacheCounters(1000 * k, 600 * k);
        state.SampleTick(nullptr);
    }
    // Suspension and recovery on the way.
    client.Fail(ClientOp::GetCacheInfoRecord, ScriptedClient::BadHandle);
    for (int k = 0; k < 100; ++k)
        state.SampleTick(nullptr);
    const bool suspended = state.Stopped;
    client.Fail(ClientOp::GetCacheInfoRecord, 0);
    state.ResetSampling();
    view.mode = 0;
    for (int k = 0; k < Ticks; ++k)
        state.SampleTick(nullptr);
    view.mode = 2;
    for (int k = 0; k < 100; ++k)
        state.SampleTick(nullptr);
    armed = false;

    EXPECT_EQ(allocations.load(), 0);
    // The ticks did their work: all points drawn, and the suspension took hold.
    EXPECT_TRUE(suspended);
    EXPECT_EQ(view.points, 2L * WindowPoints * (3 * Ticks + 200));
    EXPECT_EQ(client.calls.size(), std::size_t(3 * Ticks + 1));
}

} // namespace
