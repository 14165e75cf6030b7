// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The utilisation arithmetic that every backend of this platform shares: the
// busy share of the CPU time that passed between two readings of a machine's
// cumulative CPU counters, whatever unit they count in.

#include <algorithm>
#include <cstdint>
#include <limits>

/* Cumulative CPU time: all of it, and the part not idle nor waiting for I/O. */
struct CpuTimes {
    std::uint64_t total = 0;
    std::uint64_t busy = 0;
};

/* Busy share of the interval between two readings in whole percent, rounded, 0 to 100.
   Counters that went backwards (a reset, a restarted server, or iowait, which the kernel
   does not keep monotonic) are clamped, so that the result is always in range. */
inline std::int32_t BusyPercent(const CpuTimes& before, const CpuTimes& after) {
    if (after.total <= before.total)
        return 0;
    std::uint64_t total = after.total - before.total;
    std::uint64_t busy = after.busy > before.busy ? std::min(after.busy - before.busy, total) : 0;
    // Only garbage gives such intervals; halving keeps busy * 100 + total / 2 from overflowing.
    while (total > std::numeric_limits<std::uint64_t>::max() / 101) {
        total >>= 1;
        busy >>= 1;
    }
    return std::int32_t((busy * 100 + total / 2) / total);
}
