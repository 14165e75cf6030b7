// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// Linked into a test binary, CountingAllocator.cpp replaces the global allocation
// functions with ones that count every allocation made while counting is on.

#include <atomic>

namespace CountingAllocator {

/* True while allocations are counted. */
extern std::atomic<bool> armed;
/* Allocations counted so far. */
extern std::atomic<long> allocations;

} // namespace CountingAllocator
