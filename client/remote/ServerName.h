// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// A server names itself, and a Prometheus server hands out addresses and reasons:
// what they say must not mislead in the connection list or on standard error.

#include <cstddef>
#include <string>
#include <string_view>

/* The name as the list may show it, from UTF-8 text of any origin:
   - control characters (C0, DEL, C1) and line or paragraph separators become a space,
     so one name can never look like two entries or steer a terminal;
   - bidirectional overrides, embeddings, isolates and marks, zero-width characters, tag
     characters and Unicode's other default-ignorable code points are removed, so the text
     reads as it is stored; variation selectors stay, as they only choose a glyph;
   - bytes that are not UTF-8 become U+FFFD;
   - blanks (spaces, and the Hangul fillers and the empty Braille pattern, drawn as one) are
     trimmed from both ends, and the result is cut at a character boundary to at most
     `maxBytes` bytes.
   Empty means no name: a name of nothing but blanks and invisible characters counts as none. */
std::string ListableServerName(std::string_view utf8, std::size_t maxBytes = 255);

/* Text of any origin (a URL, a reason quoted from a server) made fit for one line of
   standard error, by the same rules as a name but neither trimmed nor ever emptied. */
std::string PrintableText(std::string_view utf8, std::size_t maxBytes = 4096);
