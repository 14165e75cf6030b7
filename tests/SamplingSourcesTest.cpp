// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// getData: what is asked of the client, the cache differences, and the suspension.

#include "LastResult.h"
#include "RecordingView.h"
#include "SamplingState.h"
#include "ScriptedClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace {

constexpr std::int32_t Poison = 0x5A5A5A5A;

class SourcesTest : public ::testing::Test {
protected:
    void SetUp() override {
        LastResult = 0;
        client.requireOpenHandle = false;
    }

    /* getData into outputs that start as garbage, so that an unwritten one shows. */
    std::pair<std::int32_t, std::int32_t> Sample() {
        std::int32_t first = Poison, second = Poison;
        state.getData(nullptr, first, second);
        return {first, second};
    }

    ScriptedClient client;
    RecordingView view;
    SamplingState state{view, client};
};

class UtilisationTest : public SourcesTest, public ::testing::WithParamInterface<std::int32_t> {};

TEST_P(UtilisationTest, StoredAsReadFromTheConnection) {
    LastResult = -99;
    client.SetUtilization(GetParam());
    EXPECT_EQ(Sample(), std::pair(GetParam(), 0));
    EXPECT_EQ(LastResult, 0);
    EXPECT_FALSE(state.Stopped);
    EXPECT_EQ(client.calls, (std::vector<ClientCall>{{ClientOp::GetServerInfoRecord, 999}}));
}

INSTANTIATE_TEST_SUITE_P(Readings, UtilisationTest,
                         ::testing::Values(0, 100, 250, -7, INT32_MIN, INT32_MAX));

TEST_F(SourcesTest, RequestsGoToTheSelectedConnection) {
    client.requireOpenHandle = true;
    client.primary = 5;
    ConnectionHandle handle = 0;
    ASSERT_EQ(client.NWCCOpenConnByRef(5, OpenStateDefault, 0, handle), 0u);
    client.calls.clear();

    // 999 was never opened: the request fails like any other.
    view.mode = 1;
    EXPECT_EQ(Sample(), std::pair(0, 0));
    EXPECT_TRUE(state.Stopped);
    EXPECT_EQ(LastResult, std::int32_t(ScriptedClient::BadHandle));

    state.ResetSampling();
    state.ConnHandle = handle;
    client.SetUtilization(30);
    view.mode = 0;
    EXPECT_EQ(Sample(), std::pair(30, 0));
    view.mode = 1;
    Sample();
    EXPECT_FALSE(state.Stopped);
    EXPECT_EQ(client.calls, (std::vector<ClientCall>{{ClientOp::GetCacheInfoRecord, 999},
                                                     {ClientOp::GetServerInfoRecord, handle},
                                                     {ClientOp::GetCacheInfoRecord, handle}}));
}

struct CacheStep {
    std::uint32_t requests, hits;
    std::int32_t first, second;
    std::uint32_t prevRequests, prevHits;
    bool resetBefore = false;
};

struct CacheScenario {
    std::string name;
    std::vector<CacheStep> steps;
    friend void PrintTo(const CacheScenario& s, std::ostream* os) { *os << s.name; }
};

class CachingTest : public SourcesTest, public ::testing::WithParamInterface<CacheScenario> {};

TEST_P(CachingTest, DifferencesAndBaselines) {
    view.mode = 1;
    const std::vector<CacheStep>& steps = GetParam().steps;
    for (std::size_t n = 0; n < steps.size(); ++n) {
        const CacheStep& s = steps[n];
        SCOPED_TRACE("step " + std::to_string(n));
        if (s.resetBefore)
            state.ResetSampling();
        client.SetCacheCounters(s.requests, s.hits);
        LastResult = -99;
        EXPECT_EQ(Sample(), std::pair(s.first, s.second));
        EXPECT_EQ(state.PrevRequests, s.prevRequests);
        EXPECT_EQ(state.PrevHits, s.prevHits);
        EXPECT_EQ(LastResult, 0);
        EXPECT_FALSE(state.Stopped);
    }
    EXPECT_EQ(client.CallCount(ClientOp::GetCacheInfoRecord), int(steps.size()));
    EXPECT_EQ(client.calls.size(), steps.size());
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, CachingTest,
    ::testing::Values(CacheScenario{"BaselinesAndReset",
                                    {{100, 50, 0, 0, 100, 50},
                                     {150, 70, 50, 20, 150, 70},
                                     {150, 70, 0, 0, 150, 70},
                                     {160, 75, 0, 0, 160, 75, true}}},
                      // A counter reading 0 is no baseline: its difference starts one sample later.
                      CacheScenario{"ZeroCounterKeepsNoBaseline",
                                    {{0, 0, 0, 0, 0, 0},
                                     {10, 0, 0, 0, 10, 0},
                                     {25, 5, 15, 0, 25, 5},
                                     {40, 9, 15, 4, 40, 9}}},
                      CacheScenario{"DroppedSampleSpansBothIntervals",
                                    {{100, 50, 0, 0, 100, 50},
                                     {110, 65, 0, 0, 100, 50},
                                     {130, 70, 30, 20, 130, 70}}},
                      CacheScenario{"FirstSampleDroppedWhenHitsExceedRequests",
                                    {{10, 20, 0, 0, 0, 0}, {30, 25, 0, 0, 30, 25}}},
                      CacheScenario{"CountersWrapAround",
                                    {{0xFFFFFFF0, 0xFFFFFF00, 0, 0, 0xFFFFFFF0, 0xFFFFFF00},
                                     {0x10, 0xFFFFFF10, 32, 16, 0x10, 0xFFFFFF10}}},
                      CacheScenario{"CountersGoBackwards",
                                    {{1000, 500, 0, 0, 1000, 500},
                                     {900, 350, -100, -150, 900, 350},
                                     {800, 300, 0, 0, 900, 350}}},
                      // The drop compares the differences as signed numbers, not unsigned ones.
                      CacheScenario{"DifferencesComparedSigned",
                                    {{1, 1, 0, 0, 1, 1},
                                     {0x80000001, 1, 0, 0, 1, 1},
                                     {11, 0xFFFFFFF1, 10, -16, 11, 0xFFFFFFF1}}}),
    [](const auto& info) { return info.param.name; });

struct FailureCase {
    int mode;
    ClientResult code;
    friend void PrintTo(const FailureCase& c, std::ostream* os) {
        *os << "mode " << c.mode << ", code " << c.code;
    }
};

class SuspensionTest : public SourcesTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SuspensionTest, FailedRequestStopsAllRequestsUntilReset) {
    const auto [mode, code] = GetParam();
    view.mode = mode;
    client.Fail(mode == 0 ? ClientOp::GetServerInfoRecord : ClientOp::GetCacheInfoRecord, code, 2,
                true);
    client.SetUtilization(42);
    client.SetCacheCounters(100, 50);
    EXPECT_FALSE(state.LastReading);
    Sample();
    ASSERT_EQ(LastResult, 0);
    ASSERT_TRUE(state.LastReading);
    // A time of its own, so that only a good reading can have written it.
    const auto good = std::chrono::system_clock::time_point{std::chrono::hours{1}};
    state.LastReading = good;

    // The record of the failed call still holds the last good reply: it must not be read.
    client.SetCacheCounters(150, 70);
    EXPECT_EQ(Sample(), std::pair(0, 0));
    EXPECT_TRUE(state.Stopped);
    EXPECT_EQ(LastResult, std::int32_t(code));
    EXPECT_EQ(state.PrevRequests, mode == 1 ? 100u : 0u);

    // Ticks go on while suspended: they scroll, store zeros and redraw, but ask nothing.
    const std::size_t callsAtFailure = client.calls.size();
    state.SampleCount = WindowPoints;
    state.PeakHistory[180] = 5;
    for (int k = 0; k < 3; ++k) {
        view.calls.clear();
        state.SampleTick(nullptr);
        EXPECT_EQ(view.calls.size(), 2u * WindowPoints);
    }
    EXPECT_EQ(state.PeakHistory[177], 5);
    EXPECT_EQ(state.PeakHistory[180], 0);
    EXPECT_EQ(Sample(), std::pair(0, 0));
    EXPECT_EQ(client.calls.size(), callsAtFailure);
    EXPECT_EQ(LastResult, std::int32_t(code));
    EXPECT_EQ(state.LastReading, good); // the notice says since when

    state.ResetSampling();
    EXPECT_FALSE(state.LastReading);
    EXPECT_EQ(Sample(), std::pair(mode == 0 ? 42 : 0, 0));
    EXPECT_EQ(client.calls.size(), callsAtFailure + 1);
    EXPECT_EQ(LastResult, 0);
    EXPECT_FALSE(state.Stopped);
}

INSTANTIATE_TEST_SUITE_P(BothModes, SuspensionTest,
                         ::testing::Values(FailureCase{0, ScriptedClient::BadHandle},
                                           FailureCase{1, ScriptedClient::BadHandle},
                                           FailureCase{0, 0xFFFFFFFF}, FailureCase{1, 0x80000001}));

TEST_F(SourcesTest, OtherModesReadNothing) {
    for (int mode : {2, -1, 7}) {
        view.mode = mode;
        LastResult = 1234;
        EXPECT_EQ(Sample(), std::pair(0, 0)) << mode;
        EXPECT_EQ(LastResult, 1234);
        EXPECT_FALSE(state.Stopped);
    }
    EXPECT_TRUE(client.calls.empty());
}

} // namespace
