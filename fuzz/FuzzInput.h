// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// Answers that the fuzzed clients draw from the input. An exhausted input
// yields 0 bytes, so every picker maps 0 to the plain, successful answer.

#include "ClientLibrary.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

/* A client result: mostly 0, else a small code, the largest 16-bit code, codes above
   16 bits (which must never read as success) or any 32-bit value. */
inline ClientResult PickResult(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 9)) {
    case 4:
        return in.ConsumeIntegralInRange<ClientResult>(1, 0xFF);
    case 5:
        return 0xFFFF;
    case 6:
        return 0x10000;
    case 7:
        return 0xFFFFFFFF;
    case 8:
        return 0x10000 + in.ConsumeIntegral<std::uint16_t>();
    case 9:
        return in.ConsumeIntegral<ClientResult>(); // 0 included
    default:
        return 0;
    }
}

/* A 32-bit value with the edges of both signed and unsigned ranges well represented. */
inline std::uint32_t PickWord(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 7)) {
    case 1:
        return 0xFFFFFFFF;
    case 2:
        return 0x7FFFFFFF;
    case 3:
        return 0x80000000;
    case 4:
        return 0x80000000 + in.ConsumeIntegral<std::uint8_t>();
    case 5:
        return 0xFFFFFFFF - in.ConsumeIntegral<std::uint8_t>();
    case 6:
        return in.ConsumeIntegral<std::uint32_t>();
    default:
        return in.ConsumeIntegral<std::uint8_t>();
    }
}
