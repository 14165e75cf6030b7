// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// A server names itself; what it says must not mislead in the connection list.

#include <cstddef>
#include <string>
#include <string_view>

/* The name as the list may show it, from UTF-8 text of any origin:
   - control characters (C0, DEL, C1) and line or paragraph separators become a space,
     so one name can never look like two entries or steer a terminal;
   - bidirectional overrides, embeddings, isolates and marks, and zero-width characters
     are removed, so the text reads as it is stored;
   - bytes that are not UTF-8 become U+FFFD;
   - blanks are trimmed from both ends, and the result is cut at a character boundary
     to at most `maxBytes` bytes.
   Empty means no name: a name of nothing but blanks and invisible characters counts as none. */
std::string ListableServerName(std::string_view utf8, std::size_t maxBytes = 255);
