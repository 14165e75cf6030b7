// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The reply memory on its own: what each step takes from the pool, when a reply must
// pause, and that every way a buffer ends gives back all it held.

#include "ReplyMemory.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Append = ReplyMemory::Append;

constexpr std::size_t Own = 16;
constexpr std::size_t Ticket = 64;
constexpr std::size_t Pool = 128;
constexpr std::size_t Limit = 1000;

TEST(ReplyMemory, TakesFromThePoolStepByStepAndPausesWhenItIsSpent) {
    ReplyMemory memory(Pool, Own, Ticket);
    ReplyMemory::Buffer a(memory);
    ReplyMemory::Buffer b(memory);
    ReplyMemory::Buffer c(memory);
    const struct {
        ReplyMemory::Buffer* buffer;
        std::size_t bytes;
        Append expected;
        std::size_t used; // after the step
    } steps[] = {
        {&a, Own, Append::Taken, 0},               // its own share costs the pool nothing
        {&a, 1, Append::Taken, Ticket - Own},      // past it, a whole ticket at once
        {&a, Ticket - Own - 1, Append::Taken, Ticket - Own}, // which covers the rest up to it
        {&b, Own + 1, Append::Taken, 2 * (Ticket - Own)},
        {&c, Own, Append::Taken, 2 * (Ticket - Own)},
        {&c, 1, Append::Pause, 2 * (Ticket - Own)}, // the pool lacks a third ticket
        {&a, Limit, Append::Full, 2 * (Ticket - Own)}, // past the limit: refused, kept as it was
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.bytes);
        EXPECT_EQ(step.buffer->Add(std::string(step.bytes, 'x'), Limit), step.expected);
        EXPECT_EQ(memory.Used(), step.used);
    }
    EXPECT_EQ(a.View(), std::string(Ticket, 'x'));
    EXPECT_EQ(c.View().size(), Own);
}

TEST(ReplyMemory, EveryWayABufferEndsGivesBackAllItHeldAndWakesTheRest) {
    const struct {
        const char* how;
        void (*end)(ReplyMemory::Buffer&);
    } ways[] = {
        {"released", [](ReplyMemory::Buffer& b) { b.Release(); }},
        {"cleared of what it may not keep", [](ReplyMemory::Buffer& b) { b.Clear(Own); }},
        {"cleared with nothing to keep", [](ReplyMemory::Buffer& b) { b.Clear(0); }},
        {"destroyed", [](ReplyMemory::Buffer& b) { ReplyMemory::Buffer gone(std::move(b)); }},
        {"overwritten", [](ReplyMemory::Buffer& b) { b = ReplyMemory::Buffer(); }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.how);
        ReplyMemory memory(Pool, Own, Ticket);
        std::vector<ReplyMemory::Buffer> full;
        full.emplace_back(memory);
        full.emplace_back(memory);
        for (auto& b : full)
            ASSERT_EQ(b.Add(std::string(Ticket, 'x'), Limit), Append::Taken);
        ReplyMemory::Buffer waiting(memory);
        ASSERT_EQ(waiting.Add(std::string(Own + 1, 'x'), Limit), Append::Pause);
        const std::uint64_t returns = memory.Returns();
        way.end(full[0]);
        EXPECT_NE(memory.Returns(), returns) << "a paused reply must be woken";
        EXPECT_EQ(memory.Used(), Ticket - Own);
        EXPECT_EQ(waiting.Add(std::string(Own + 1, 'x'), Limit), Append::Taken);
        full.clear();
        waiting.Release();
        EXPECT_EQ(memory.Used(), 0u) << "back at its floor";
    }
}

TEST(ReplyMemory, AKeptBufferStaysWithinWhatItMayKeep) {
    ReplyMemory memory(Pool, Own, Ticket);
    ReplyMemory::Buffer b(memory);
    ASSERT_EQ(b.Add(std::string(Ticket, 'x'), Limit), Append::Taken);
    b.Clear(Ticket); // a watched server's modest buffer stays for the next scrape
    EXPECT_EQ(b.View(), "");
    EXPECT_EQ(b.Capacity(), Ticket);
    EXPECT_EQ(memory.Used(), Ticket - Own);
    ASSERT_EQ(b.Add(std::string(Ticket + 1, 'x'), Limit), Append::Taken);
    b.Clear(Ticket);
    EXPECT_EQ(b.Capacity(), 0u);
    EXPECT_EQ(memory.Used(), 0u);
}

} // namespace
