// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The fuzzers' assertion: a broken invariant must stop the run as a finding,
// whatever NDEBUG says, so libFuzzer saves the input that broke it.

#include <cstdio>

/* Names the failed condition on stderr and traps. */
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            __builtin_trap();                                                                      \
        }                                                                                          \
    } while (false)
