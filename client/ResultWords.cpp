// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ResultWords.h"

#include <array>

std::string CodeWithWords(ClientResult code) {
    // Zero-padded here, unlike the error box's space-padded code: this text is read in a
    // sentence, where "Error   FF" would look like a gap.
    std::array<char, 9> digits{};
    int n = 0;
    for (ClientResult rest = code; rest != 0 || n < 4; rest >>= 4)
        digits[n++] = "0123456789ABCDEF"[rest & 0xF];
    std::string text = "Error ";
    while (n > 0)
        text += digits[--n];
    if (const std::string_view words = CodeInWords(code); !words.empty())
        text.append(": ").append(words);
    return text;
}
