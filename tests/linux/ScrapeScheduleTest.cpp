// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The schedule on a made-up clock: what each wish of the client leads to, turn by turn.

#include "ScrapeSchedule.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using Action = ScrapeSchedule::Action;
using Clock = ScrapeSchedule::Clock;

TEST(ScrapeSchedule, TurnByTurn) {
    const Clock::time_point t0{};
    // One server through a scan, an open, its interval, a restart in flight and a close.
    const struct {
        const char* what;
        std::chrono::milliseconds at;
        ScrapeSchedule::Wish wish;
        Action expected;
        std::chrono::milliseconds next; // the turn it then wants, past the far future's 60 s
        int ends = 0;                   // 1: its scrape then ends well, -1: badly
        bool current = true;            // and then answers the newest restart
    } turns[] = {
        {"not wanted yet", 0ms, {0, false, false}, Action::Drop, 60s},
        {"the scan", 0ms, {1, true, false}, Action::Restart, 60s, 1},
        {"scanned, not watched", 100ms, {1, true, false}, Action::None, 60s},
        {"the scan ends", 200ms, {1, false, false}, Action::Drop, 60s},
        {"opened", 300ms, {2, true, true}, Action::Restart, 60s, 1},
        {"a first good scrape is followed at once", 310ms, {2, true, true}, Action::Start, 60s, 1},
        {"then every interval", 400ms, {2, true, true}, Action::None, 1310ms},
        {"due", 1310ms, {2, true, true}, Action::Start, 60s},
        {"in flight", 1500ms, {2, true, true}, Action::None, 60s},
        {"a restart drops it", 1600ms, {3, true, true}, Action::Restart, 60s, -1},
        {"a failure waits its interval", 1700ms, {3, true, true}, Action::None, 2600ms},
        {"closed", 1800ms, {3, false, false}, Action::Drop, 60s},
    };
    ScrapeSchedule schedule(1000ms);
    schedule.Resize(1);
    for (const auto& turn : turns) {
        SCOPED_TRACE(turn.what);
        Clock::time_point next = t0 + 60s;
        const Clock::time_point now = t0 + turn.at;
        const Action action = schedule.Decide(0, turn.wish, now, next);
        EXPECT_EQ(action, turn.expected);
        EXPECT_EQ(next, t0 + turn.next);
        if (action == Action::Restart || action == Action::Start)
            schedule.Started(0, now);
        if (turn.ends != 0) {
            EXPECT_TRUE(schedule.InFlight(0));
            EXPECT_EQ(schedule.Ended(0, turn.ends > 0, now + 10ms), turn.current);
        }
    }
}

TEST(ScrapeSchedule, AScrapeOfAnEarlierRestartAnswersNothing) {
    ScrapeSchedule schedule(1000ms);
    schedule.Resize(1);
    Clock::time_point next = Clock::time_point::max();
    ASSERT_EQ(schedule.Decide(0, {1, true, true}, {}, next), Action::Restart);
    schedule.Started(0, {});
    ASSERT_EQ(schedule.Decide(0, {2, true, true}, {}, next), Action::Restart);
    // The first scrape's end arrives after the second restart, before its own start.
    EXPECT_FALSE(schedule.Ended(0, true, {}));
}

TEST(ScrapeSchedule, AReadingIsFreshForItsStaleTimeAndNoLonger) {
    const Clock::time_point at{};
    EXPECT_TRUE(ScrapeSchedule::Fresh(at, at + 5000ms, 5000ms));
    EXPECT_FALSE(ScrapeSchedule::Fresh(at, at + 5001ms, 5000ms));
}

} // namespace
