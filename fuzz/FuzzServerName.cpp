// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The filter for server names and messages on any bytes and any length limit: what
// it gives fits the limit, holds nothing that breaks a line or an UTF-8 decoder, and
// is its own result (filtering it again changes nothing, so nothing hidden, no blank
// ends and no byte that is not UTF-8 can remain).

#include "FuzzCheck.h"
#include "ServerName.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::size_t limit =
        in.ConsumeBool() ? 255 : in.ConsumeIntegralInRange<std::size_t>(0, 64);
    const std::string given = in.ConsumeRemainingBytesAsString();
    const std::string listed = ListableServerName(given, limit);
    FUZZ_CHECK(listed.size() <= limit);
    const auto control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; };
    FUZZ_CHECK(std::none_of(listed.begin(), listed.end(), control));
    FUZZ_CHECK(ListableServerName(listed, limit) == listed);
    // Messages on standard error: the same filter, untrimmed.
    const std::string printable = PrintableText(given, limit);
    FUZZ_CHECK(printable.size() <= limit && std::none_of(printable.begin(), printable.end(), control));
    FUZZ_CHECK(PrintableText(printable, limit) == printable);
    // What the limit cut off is only ever the end of a longer result.
    if (limit < 255)
        FUZZ_CHECK(ListableServerName(given, 255).starts_with(listed));
    return 0;
}
